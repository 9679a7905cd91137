// A private folder under the temporary folder for the links this program hands to other
// programs (a set's volumes under the names a tool expects). It is held open and locked while it
// lives and removed with what it holds at the end. Folders of the same kind that a killed run
// left behind (nobody holds their lock) are removed when the next one is made.
#pragma once

#include "error.h"

#include <QString>

#include <functional>

struct stat;

namespace zelv {

// How far a folder of this user's must be closed to others: nobody else may write in it (what
// the program keeps or runs from there), or nobody else may even look into it.
enum class FolderPrivacy { NoOtherWriter, Private };

// Nothing when the folder at path, whose status is st, belongs to this user and is closed to
// others as privacy asks; otherwise why not, naming the folder ("... is owned by another user").
Result<void> checkOwnFolder(const QString &path, const struct stat &st, FolderPrivacy privacy);

// The folders under the folder held by parentFd whose names start with prefix, that belong to
// this user and whose lock nobody holds: each is locked, handed to remove with its name and an
// open descriptor (never through a link), and closed again. A running program holds the lock on
// its own such folder from the start, so one whose lock can be taken is nobody's any more.
void forEachDeadFolder(int parentFd, const char *prefix, const std::function<void(const char *name, int fd)> &remove);

class LinkFolder {
public:
    // kind: the start of the folder's name, which tells its folders apart, as "zelv-volumes-".
    explicit LinkFolder(const char *kind);
    ~LinkFolder();
    LinkFolder(const LinkFolder &) = delete;
    LinkFolder &operator=(const LinkFolder &) = delete;

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + u'/' + name; }
    QString errorString() const { return m_error; }

    // Removes the folders of this kind under parent that belong to this user and that nobody
    // holds: what they hold first (never following a link), then the folder. Folders within
    // them stay, and so does the folder then.
    static void removeDead(const QString &parent, const char *kind);

private:
    int m_fd = -1;
    QString m_path;
    QString m_error;
};

} // namespace zelv
