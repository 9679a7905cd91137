#include "helpchannel.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>

#include <unistd.h>

namespace zelv {

QString helpChannelName(const QString &hostHelpFile)
{
    QString path = QFileInfo(hostHelpFile).canonicalFilePath();
    if (path.isEmpty())
        path = QFileInfo(hostHelpFile).absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("Zelvant32-help-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

namespace {

const char *verbOf(HelpCommand command)
{
    switch (command) {
    case HelpCommand::Quit:
        return "quit";
    case HelpCommand::Finder:
        return "index";
    case HelpCommand::Contents:
        break;
    }
    return "contents";
}

} // namespace

QByteArray encodeHelpRequest(const HelpRequest &request)
{
    // Owners are process words without blanks; "-" stands for none.
    QByteArray owner = request.owner.toUtf8();
    owner.replace(' ', '_').replace('\n', '_');
    if (owner.isEmpty())
        owner = "-";
    return QByteArray(verbOf(request.command)) + ' ' + QByteArray::number(request.windowHint) + ' ' + owner + '\n';
}

std::optional<HelpRequest> decodeHelpRequest(const QByteArray &line)
{
    if (!line.endsWith('\n'))
        return std::nullopt;
    const QList<QByteArray> words = line.chopped(1).split(' ');
    if (words.size() != 3)
        return std::nullopt;
    HelpRequest request;
    if (words[0] == "contents")
        request.command = HelpCommand::Contents;
    else if (words[0] == "index")
        request.command = HelpCommand::Finder;
    else if (words[0] == "quit")
        request.command = HelpCommand::Quit;
    else
        return std::nullopt;
    bool ok = false;
    request.windowHint = words[1].toInt(&ok);
    if (!ok)
        return std::nullopt;
    if (words[2] != "-")
        request.owner = QString::fromUtf8(words[2]);
    return request;
}

QString thisProcessHelpOwner() { return QStringLiteral("pid%1").arg(QCoreApplication::applicationPid()); }

} // namespace zelv
