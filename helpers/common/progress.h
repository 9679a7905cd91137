// What an archiver helper shows while its tool writes, since the main window is minimised
// meanwhile: a small window with the archive's name, the file being written, a bar by bytes,
// and Cancel. There is no window without a display or when the window hint (ZELV_WINDOW_HINT)
// is 0. The window lives in a module of its own (progresswindow.so in the program folder),
// loaded only when it is shown, so that a helper without a window starts without the widgets.
#pragma once

#include <QCoreApplication>
#include <QLibrary>
#include <QString>

#include <memory>

namespace zelv {

// A QApplication (from the window module) when a window may be shown, else a QCoreApplication.
// Qt's own warnings are kept off standard error, which carries the helper's message. SIGTERM,
// SIGINT and SIGHUP from then on ask the work to stop, as Cancel does.
std::unique_ptr<QCoreApplication> helperApplication(int &argc, char **argv);

// Whether a signal has asked the helper to stop.
bool stopAsked();

class ExtractionProgress {
public:
    // A window for archiveName (as the person knows it) when the application can show one,
    // titled with what is done to it.
    ExtractionProgress(const QString &archiveName, qint64 totalBytes,
                       const QString &verb = QStringLiteral("Extracting"));
    ~ExtractionProgress();
    ExtractionProgress(const ExtractionProgress &) = delete;
    ExtractionProgress &operator=(const ExtractionProgress &) = delete;

    // Looks at what the tool has written into folder so far and lets the window answer;
    // false once the person has pressed Cancel or closed the window, or a signal asked to stop.
    bool update(const QString &folder);

    // Shows a step before the tool writes ("Repairing", with a percentage); false once the
    // person has pressed Cancel.
    bool report(const QString &text, int percent);

private:
    void *m_window = nullptr;
    int (*m_update)(void *, const QString *) = nullptr;
    int (*m_report)(void *, const QString *, int) = nullptr;
    void (*m_close)(void *) = nullptr;
};

} // namespace zelv
