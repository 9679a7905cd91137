// The small window an archiver helper shows while its tool writes, since the main window is
// minimised meanwhile: the archive's name, the file being written, a bar by bytes, and Cancel.
// There is no window without a display or when the window hint (ZELV_WINDOW_HINT) is 0.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <memory>

class QLabel;
class QProgressBar;
class QWidget;

namespace zelv {

// A QApplication when a window may be shown, else a QCoreApplication. Qt's own warnings are
// kept off standard error.
std::unique_ptr<QCoreApplication> helperApplication(int &argc, char **argv);

class ExtractionProgress {
public:
    // A window for archiveName (as the person knows it) when the application can show one.
    ExtractionProgress(const QString &archiveName, qint64 totalBytes);
    ~ExtractionProgress();
    ExtractionProgress(const ExtractionProgress &) = delete;
    ExtractionProgress &operator=(const ExtractionProgress &) = delete;

    bool isShown() const { return bool(m_window); }

    // Looks at what the tool has written into folder so far and lets the window answer;
    // false once the person has pressed Cancel or closed the window.
    bool update(const QString &folder);

private:
    std::unique_ptr<QWidget> m_window;
    QLabel *m_file = nullptr;
    QProgressBar *m_bar = nullptr;
    qint64 m_total = 0;
    bool m_cancelled = false;
    QElapsedTimer m_sinceScan;
};

} // namespace zelv
