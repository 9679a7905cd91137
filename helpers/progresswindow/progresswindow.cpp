// progresswindow.so: the archiver helpers' progress window, loaded by them only when a window
// is shown (see helpers/common/progress.h). It makes the QApplication and the window, and
// answers each look at the staging folder with whether the person has cancelled.
#include <QApplication>

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

namespace {

constexpr int kScanEveryMs = 200;

class ProgressWindow : public QWidget {
public:
    ProgressWindow(const QString &verb, const QString &archiveName, qint64 totalBytes) : m_total(totalBytes)
    {
        setWindowTitle(verb + u' ' + archiveName);
        auto *name = new QLabel(archiveName);
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
        m_file = new QLabel(QStringLiteral("Starting..."));
        m_file->setMinimumWidth(360);
        m_bar = new QProgressBar;
        m_bar->setRange(0, 1000);
        m_bar->setValue(0);
        m_cancel = new QPushButton(QStringLiteral("Cancel"));
        connect(m_cancel, &QPushButton::clicked, this, &ProgressWindow::cancel);
        auto *buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(m_cancel);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(name);
        layout->addWidget(m_file);
        layout->addWidget(m_bar);
        layout->addLayout(buttons);
        setFixedSize(sizeHint());
        m_sinceScan.start();
    }

    // Shows what the tool has written so far; false once cancelled.
    bool update(const QString &folder)
    {
        if (m_sinceScan.elapsed() >= kScanEveryMs && !m_cancelled) {
            m_sinceScan.restart();
            qint64 written = 0;
            QString newest;
            QDateTime newestTime;
            QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QFileInfo file = it.nextFileInfo();
                written += file.size();
                if (newest.isEmpty() || file.lastModified() > newestTime) {
                    newest = file.filePath();
                    newestTime = file.lastModified();
                }
            }
            if (!newest.isEmpty())
                m_file->setText(QDir(folder).relativeFilePath(newest));
            m_bar->setValue(m_total > 0 ? int(std::min<qint64>(1000, written * 1000 / m_total)) : 0);
        }
        QCoreApplication::processEvents();
        return !m_cancelled;
    }

    // Shows what the helper does before the tool writes (a repair, say); false once cancelled.
    bool report(const QString &text, int percent)
    {
        if (!m_cancelled) {
            m_file->setText(text);
            m_bar->setValue(std::clamp(percent, 0, 100) * 10);
        }
        QCoreApplication::processEvents();
        return !m_cancelled;
    }

protected:
    // Closing the window is asking to cancel, not leaving the tool to run unseen.
    void closeEvent(QCloseEvent *event) override
    {
        cancel();
        event->ignore();
    }

private:
    void cancel()
    {
        m_cancelled = true;
        m_cancel->setEnabled(false);
        m_file->setText(QStringLiteral("Cancelling..."));
    }

    QLabel *m_file;
    QProgressBar *m_bar;
    QPushButton *m_cancel;
    qint64 m_total;
    bool m_cancelled = false;
    QElapsedTimer m_sinceScan;
};

} // namespace

extern "C" {

Q_DECL_EXPORT QCoreApplication *zelv_progress_application(int *argc, char **argv)
{
    // A display that cannot be reached must not end the helper: it then works unseen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM",
                qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen");
    return new QApplication(*argc, argv);
}

// hint: 1 shown and activated, anything else shown without taking the focus.
Q_DECL_EXPORT void *zelv_progress_open(const QString *verb, const QString *archiveName, qint64 totalBytes, int hint)
{
    auto *window = new ProgressWindow(*verb, *archiveName, totalBytes);
    if (hint != 1)
        window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->show();
    if (hint == 1) {
        window->raise();
        window->activateWindow();
    }
    QCoreApplication::processEvents();
    return window;
}

Q_DECL_EXPORT int zelv_progress_update(void *window, const QString *folder)
{
    return static_cast<ProgressWindow *>(window)->update(*folder) ? 1 : 0;
}

Q_DECL_EXPORT int zelv_progress_report(void *window, const QString *text, int percent)
{
    return static_cast<ProgressWindow *>(window)->report(*text, percent) ? 1 : 0;
}

Q_DECL_EXPORT void zelv_progress_close(void *window) { delete static_cast<ProgressWindow *>(window); }
}
