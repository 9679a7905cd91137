#include "progresswindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDirIterator>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <functional>

namespace zelv {

namespace {

constexpr int kScanEveryMs = 200;

int windowHint()
{
    return qEnvironmentVariableIsSet("ZELV_WINDOW_HINT") ? qEnvironmentVariableIntValue("ZELV_WINDOW_HINT") : 1;
}

// Closing the window is asking to cancel, not leaving the tool to run unseen.
class Window : public QWidget {
public:
    explicit Window(std::function<void()> onClose) : m_onClose(std::move(onClose)) {}

protected:
    void closeEvent(QCloseEvent *event) override
    {
        m_onClose();
        event->ignore();
    }

private:
    std::function<void()> m_onClose;
};

} // namespace

std::unique_ptr<QCoreApplication> helperApplication(int &argc, char **argv)
{
    // Standard error carries the helper's one line for the person; Qt's own chatter about the
    // display stays out of it.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    const bool display = qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
                         qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (!display || windowHint() == 0)
        return std::make_unique<QCoreApplication>(argc, argv);
    // A display that cannot be reached must not end the helper: it then works without a window.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM",
                qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen");
    return std::make_unique<QApplication>(argc, argv);
}

ExtractionProgress::ExtractionProgress(const QString &archiveName, qint64 totalBytes) : m_total(totalBytes)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()) || windowHint() == 0)
        return;
    auto *window = new Window([this] { m_cancelled = true; });
    m_window.reset(window);
    window->setWindowTitle(QStringLiteral("Extracting %1").arg(archiveName));
    auto *name = new QLabel(archiveName);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    m_file = new QLabel(QStringLiteral("Starting..."));
    m_file->setTextInteractionFlags(Qt::NoTextInteraction);
    m_file->setMinimumWidth(360);
    m_bar = new QProgressBar;
    m_bar->setRange(0, 1000);
    m_bar->setValue(0);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    QObject::connect(cancel, &QPushButton::clicked, window, [this, cancel] {
        m_cancelled = true;
        cancel->setEnabled(false);
        m_file->setText(QStringLiteral("Cancelling..."));
    });
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(name);
    layout->addWidget(m_file);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);
    window->setFixedSize(window->sizeHint());
    if (windowHint() != 1)
        window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->show();
    if (windowHint() == 1) {
        window->raise();
        window->activateWindow();
    }
    QCoreApplication::processEvents();
    m_sinceScan.start();
}

ExtractionProgress::~ExtractionProgress() = default;

bool ExtractionProgress::update(const QString &folder)
{
    if (!m_window)
        return true;
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

} // namespace zelv
