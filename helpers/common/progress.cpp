#include "progress.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace zelv {

namespace {

int windowHint()
{
    return qEnvironmentVariableIsSet("ZELV_WINDOW_HINT") ? qEnvironmentVariableIntValue("ZELV_WINDOW_HINT") : 1;
}

// Set when the helper is asked to stop (closed, killed politely, Ctrl+C, any signal that would
// end it and can be caught): the work ends as on Cancel, so that no tool keeps running and no
// staging folder is left.
volatile sig_atomic_t g_stopAsked = 0;

void askStop(int) { g_stopAsked = 1; }

void stopOnSignals()
{
    struct sigaction action {};
    action.sa_handler = askStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU})
        sigaction(signal, &action, nullptr);
    // A closed pipe or an oversized file is an error of the write that met it, told as such.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

QLibrary &windowModule()
{
    static QLibrary module;
    return module;
}

// The module beside the running program, found before QCoreApplication exists.
QString programFolder()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return QString();
    path[n] = '\0';
    const QString exe = QString::fromLocal8Bit(path);
    return exe.left(exe.lastIndexOf(u'/'));
}

} // namespace

std::unique_ptr<QCoreApplication> helperApplication(int &argc, char **argv)
{
    stopOnSignals();
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    const bool display = qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
                         qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (display && windowHint() != 0) {
        windowModule().setFileName(programFolder() + QStringLiteral("/progresswindow.so"));
        using Make = QCoreApplication *(*)(int *, char **);
        if (const auto make = reinterpret_cast<Make>(windowModule().resolve("zelv_progress_application")))
            return std::unique_ptr<QCoreApplication>(make(&argc, argv));
    }
    // Without the module the helper works as it does without a display.
    return std::make_unique<QCoreApplication>(argc, argv);
}

ExtractionProgress::ExtractionProgress(const QString &archiveName, qint64 totalBytes, const QString &verb)
{
    if (!windowModule().isLoaded() || windowHint() == 0)
        return;
    using Open = void *(*)(const QString *, const QString *, qint64, int);
    const auto open = reinterpret_cast<Open>(windowModule().resolve("zelv_progress_open"));
    m_update = reinterpret_cast<int (*)(void *, const QString *)>(windowModule().resolve("zelv_progress_update"));
    m_close = reinterpret_cast<void (*)(void *)>(windowModule().resolve("zelv_progress_close"));
    m_report = reinterpret_cast<int (*)(void *, const QString *, int)>(windowModule().resolve("zelv_progress_report"));
    if (open && m_update && m_close && m_report)
        m_window = open(&verb, &archiveName, totalBytes, windowHint());
}

ExtractionProgress::~ExtractionProgress()
{
    if (m_window)
        m_close(m_window);
}

bool ExtractionProgress::update(const QString &folder)
{
    return !g_stopAsked && (!m_window || m_update(m_window, &folder) != 0);
}

bool ExtractionProgress::report(const QString &text, int percent)
{
    return !g_stopAsked && (!m_window || m_report(m_window, &text, percent) != 0);
}

bool stopAsked() { return g_stopAsked != 0; }

} // namespace zelv
