// webdial.exe $ADDRESS opens a web page in the desktop's browser; webdial.exe >mailto:ADDRESS
// starts a new mail in the desktop's mail program; webdial.exe #FOLDER shows a folder (a DOS
// path over the drive table) in the desktop's file manager. Anything else, or a desktop that has no
// program for it, is told in one line (in a small window when one may be shown, and on standard
// error) with exit code 1; a missing argument gives exit code 2.
//
// ZELV_WINDOW_HINT: 0 shows no window.
#include "platform/drivetable.h"
#include "platform/error.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QUrl>

#include <cstdio>

using zelv::Error;
using zelv::Result;

namespace {

int fail(const QString &message, int code)
{
    fprintf(stderr, "webdial.exe: %s\n", qPrintable(message));
    const bool window =
        !qEnvironmentVariableIsSet("ZELV_WINDOW_HINT") || qEnvironmentVariableIntValue("ZELV_WINDOW_HINT") != 0;
    // An invisible platform would leave the box waiting for ever.
    if (window && qobject_cast<QApplication *>(QCoreApplication::instance()) &&
        QGuiApplication::platformName() != u"offscreen" && QGuiApplication::platformName() != u"minimal")
        QMessageBox::warning(nullptr, QStringLiteral("Zelvant32"), message);
    return code;
}

// What the argument asks to open: a web page after '$', a mail after '>'.
Result<QUrl> target(const QString &argument)
{
    if (argument.startsWith(u'$')) {
        const QUrl url(argument.mid(1), QUrl::StrictMode);
        if (url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty())
            return url;
        return Error(QStringLiteral("%1 is not a web address").arg(argument.mid(1)));
    }
    if (argument.startsWith(QStringLiteral(">mailto:"))) {
        static const QRegularExpression address(QStringLiteral(R"(^[^@\s<>"]+@[^@\s<>"]+\.[^@\s<>"]+$)"));
        const QString to = argument.mid(8);
        if (address.match(to).hasMatch())
            return QUrl(QStringLiteral("mailto:") + to);
        return Error(QStringLiteral("%1 is not an e-mail address").arg(to));
    }
    if (argument.startsWith(u'#')) {
        // A folder only: a file would be run or opened by whatever the desktop has for it.
        const QString dos = argument.mid(1);
        const zelv::DriveTable drives(zelv::DriveTable::runningProgramFolder());
        const auto host = drives.toHost(dos);
        if (host && QFileInfo(*host).isDir())
            return QUrl::fromLocalFile(*host);
        return Error(QStringLiteral("%1 is not a folder").arg(dos));
    }
    return Error(QStringLiteral("%1 is neither $ADDRESS, >mailto:ADDRESS nor #FOLDER").arg(argument));
}

} // namespace

int main(int argc, char *argv[])
{
    // Standard error carries the one line for the person, not Qt's own remarks.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    // Without a display there is nothing to open things in, but the message still goes out.
    const bool display = qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                         qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    std::unique_ptr<QCoreApplication> app =
        display ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    const QStringList args = app->arguments();
    if (args.size() != 2)
        return fail(QStringLiteral("usage: webdial.exe $ADDRESS, webdial.exe >mailto:ADDRESS or webdial.exe #FOLDER"),
                    2);
    const auto url = target(args[1]);
    if (!url)
        return fail(url.error().text(), 1);
    if (!QDesktopServices::openUrl(*url))
        return fail(QStringLiteral("No program on this desktop opens %1").arg(url->toString()), 1);
    return 0;
}
