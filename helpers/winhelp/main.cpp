// winhelp.exe [-index] [-owner WORD] FILE: the help viewer. Opens on the help file's contents,
// or on its index with -index. One viewer per help file: a later start hands its request to
// the viewer already open and ends. A program that asks for help names itself with -owner; its
// quit request closes the viewer once every program that asked has let go.
//
// FILE is a DOS path, turned into a host path with the drive table beside this program, or a
// host path. A file that cannot be read opens the viewer with one line saying why.
//
// ZELV_WINDOW_HINT: 1 (or none) shown and activated; 4 shown without taking the focus; 0, which
// would hide the window for ever, is shown like 4.
// For tests: ZELV_WINHELP_REPORT names a file that gets one line for each request the viewer
// carries out ("contents topic=ID tab=TAB owners=N pid=P") and "closed pid=P" when it closes.
#include "helpfile.h"
#include "helpviewer.h"
#include "platform/drivetable.h"
#include "platform/helpchannel.h"
#include "platform/localchannel.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QThread>

#include <cstdio>

namespace {

using namespace zelv;

struct Arguments {
    HelpRequest request;
    QString file;
};

std::optional<Arguments> parseArguments(const QStringList &args)
{
    Arguments a;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == u"-index") {
            a.request.command = HelpCommand::Finder;
        } else if (args[i] == u"-owner" && i + 1 < args.size()) {
            a.request.owner = args[++i];
        } else if (a.file.isEmpty() && !args[i].startsWith(u'-')) {
            a.file = args[i];
        } else {
            return std::nullopt;
        }
    }
    if (a.file.isEmpty())
        return std::nullopt;
    const int hint =
        qEnvironmentVariableIsSet("ZELV_WINDOW_HINT") ? qEnvironmentVariableIntValue("ZELV_WINDOW_HINT") : 1;
    a.request.windowHint = hint == 1 ? 1 : 4;
    return a;
}

QString hostPathOf(const QString &file)
{
    if (file.startsWith(u'/'))
        return file;
    const DriveTable drives(DriveTable::runningProgramFolder());
    return drives.toHost(file).value_or(QString());
}

const char *tabName(HelpViewer::Tab tab)
{
    switch (tab) {
    case HelpViewer::Tab::Index:
        return "index";
    case HelpViewer::Tab::Search:
        return "search";
    case HelpViewer::Tab::Contents:
        break;
    }
    return "contents";
}

// The open viewer and the programs that asked for it.
class ViewerSession : public QObject {
public:
    explicit ViewerSession(HelpViewer *viewer) : m_viewer(viewer)
    {
        m_viewer->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_viewer, &QObject::destroyed, this, [this] {
            report("closed");
            QCoreApplication::quit();
        });
    }

    QByteArray handle(const QByteArray &line)
    {
        const std::optional<HelpRequest> request = decodeHelpRequest(line);
        if (!request)
            return QByteArray();
        carryOut(*request);
        return kHelpDone;
    }

    void carryOut(const HelpRequest &request)
    {
        if (request.command == HelpCommand::Quit) {
            // A viewer someone opened by hand is nobody's to close.
            if (m_owners.remove(request.owner) && m_owners.isEmpty()) {
                m_viewer->close();
                return;
            }
            report("quit");
            return;
        }
        if (!request.owner.isEmpty())
            m_owners.insert(request.owner);
        if (request.command == HelpCommand::Finder)
            m_viewer->showIndex();
        else
            m_viewer->showContents();
        m_viewer->setAttribute(Qt::WA_ShowWithoutActivating, request.windowHint != 1);
        if (m_viewer->isMinimized())
            m_viewer->showNormal();
        else
            m_viewer->show();
        m_viewer->raise();
        if (request.windowHint == 1)
            m_viewer->activateWindow();
        report(request.command == HelpCommand::Finder ? "index" : "contents");
    }

private:
    void report(const char *what)
    {
        const QString path = qEnvironmentVariable("ZELV_WINHELP_REPORT");
        if (path.isEmpty())
            return;
        QByteArray line(what);
        if (m_viewer && qstrcmp(what, "closed") != 0) {
            const HelpFile *file = m_viewer->helpFile();
            const int topic = m_viewer->currentTopic();
            line += " topic=" + (file && topic >= 0 ? file->topics()[topic].id.toUtf8() : QByteArray("-"));
            line += QByteArray(" tab=") + tabName(m_viewer->currentTab());
            line += " owners=" + QByteArray::number(m_owners.size());
        }
        line += " pid=" + QByteArray::number(QCoreApplication::applicationPid());
        QFile out(path);
        if (out.open(QIODevice::Append))
            out.write(line + '\n');
    }

    QPointer<HelpViewer> m_viewer;
    QSet<QString> m_owners;
};

} // namespace

int main(int argc, char *argv[])
{
    // Standard error carries the one line for the person, not Qt's own remarks.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvant32 Help"));

    const std::optional<Arguments> arguments = parseArguments(QCoreApplication::arguments());
    if (!arguments) {
        fprintf(stderr, "winhelp.exe: usage: winhelp.exe [-index] [-owner WORD] FILE\n");
        return 2;
    }
    const QString host = hostPathOf(arguments->file);
    const QString channel = helpChannelName(host.isEmpty() ? arguments->file : host);
    const QByteArray request = encodeHelpRequest(arguments->request);

    // Hand the request to the viewer already open on this file, or become that viewer. Two
    // starts at the same moment cannot both listen; the loser hands over to the winner.
    ViewerSession *session = nullptr;
    LocalChannelServer server(
        channel, [&session](const QByteArray &line) { return session ? session->handle(line) : QByteArray(); });
    bool listening = false;
    for (int attempt = 0; attempt < 20 && !listening; ++attempt) {
        if (askLocalChannel(channel, request, 2000))
            return 0;
        listening = server.listen();
        if (!listening)
            QThread::msleep(50);
    }

    auto file = HelpFile::load(host, arguments->file);
    auto *viewer =
        file ? new HelpViewer(std::move(*file), QString()) : new HelpViewer(std::nullopt, file.error().text());
    session = new ViewerSession(viewer);
    session->carryOut(arguments->request);
    return app.exec();
}
