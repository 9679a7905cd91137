// Knowing when another program has read a file: made before that program starts, it waits
// until someone has opened the file and closed it again without writing. The program deletes
// a release note it hands to a viewer only once the viewer has read it.
#pragma once

#include <QString>

namespace zelv {

class ReadWatch {
public:
    explicit ReadWatch(const QString &hostPath);
    ~ReadWatch();
    ReadWatch(const ReadWatch &) = delete;
    ReadWatch &operator=(const ReadWatch &) = delete;

    // True once the file was opened and closed by a reader; false when the time ran out or the
    // file cannot be watched.
    bool waitUntilRead(int timeoutMs);

private:
    int m_fd = -1;
};

} // namespace zelv
