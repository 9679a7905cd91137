// The zip component the main window hosts as XceedZip1: its settings, the extract and test
// operations with the engine's result codes (see zipengine.h), the abort request, and the
// progress handler. Paths are DOS paths, turned into host paths through the drive table.
#pragma once

#include "platform/drivetable.h"
#include "zipengine.h"

#include <QDateTime>
#include <QObject>
#include <atomic>
#include <functional>

namespace zelv {

class XceedZip : public QObject {
    Q_OBJECT
public:
    // A second operation started while one runs (from a handler running in between) is
    // refused with this code; nothing is done.
    static constexpr ZipCode kBusy = ZipBusy;

    explicit XceedZip(const DriveTable &drives, QObject *parent = nullptr);

    // Wildcard masks separated by carriage returns; empty selects every member.
    void setFilesToProcess(const QString &masks) { m_masks = masks; }
    void setUnzipToFolder(const QString &dosFolder) { m_destination = dosFolder; }
    void setZipFilename(const QString &dosPath) { m_archive = dosPath; }
    QString zipFilename() const { return m_archive; }

    // The yes/no option the test sets to false: when true, a file that already exists in the
    // destination is kept and the member is passed over; false (the default) overwrites.
    void setSkipIfExisting(bool skip) { m_skipIfExisting = skip; }
    bool skipIfExisting() const { return m_skipIfExisting; }

    // The abort request: stops the operation in progress. Each operation starts without one,
    // so a request that is never taken back stops nothing later.
    void setAbort(bool abort) { m_abort = abort; }
    bool abortRequested() const { return m_abort.load(); }

    // What the component reports while an operation runs, on the calling thread, about every
    // 20 ms and once at the end (see ZipEngine). The window shows the progress there and lets
    // its events through, so that Escape can set the abort request: the component itself never
    // runs the event loop.
    using ProgressHandler = std::function<void(const ZipProgress &)>;
    void setProgressHandler(ProgressHandler handler) { m_progress = std::move(handler); }

    // Extract (the argument is 0) and test, each returning the engine's code.
    ZipCode extract(int options = 0);
    ZipCode test();
    bool busy() const { return m_busy; }
    // Why the last extraction could not write (code 300): an errno value, 0 otherwise.
    int lastWriteError() const { return m_why.writeError; }
    // What a member of the last operation's 410 would need, when it was refused for its
    // memory: 0 otherwise.
    quint64 lastMemoryNeeded() const { return m_why.memoryNeeded; }

private:
    ZipCode run(bool write);

    const DriveTable &m_drives;
    QString m_masks;
    QString m_destination;
    QString m_archive;
    bool m_skipIfExisting = false;
    std::atomic<bool> m_abort{false};
    bool m_busy = false;
    ZipWhy m_why;
    ProgressHandler m_progress;
};

} // namespace zelv
