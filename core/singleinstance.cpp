#include "singleinstance.h"

#include "platform/localchannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace zelv {

namespace {
const QByteArray kRestore = "restore\n";
const QByteArray kDone = "done\n";
// Followed by the files, each as UTF-8 ended by a zero byte, in base 64: a name may hold any
// byte but zero.
const QByteArray kOpen = "open ";
constexpr int kWaitMs = 5000;
} // namespace

SingleInstance::SingleInstance(const QString &programFolder, QObject *parent) : QObject(parent)
{
    QString folder = QFileInfo(programFolder).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir(programFolder).absolutePath();
    const QByteArray hash = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    m_name = QStringLiteral("Zelvant32-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::askRunningInstance(const QStringList &files)
{
    QByteArray request = kRestore;
    if (!files.isEmpty()) {
        QByteArray names;
        for (const QString &file : files)
            names += file.toUtf8() + '\0';
        request = kOpen + names.toBase64() + '\n';
    }
    // The running instance answers once its window has been restored.
    return askLocalChannel(m_name, request, kWaitMs).has_value();
}

bool SingleInstance::handOverToRunningInstance(const QStringList &files)
{
    m_server = new LocalChannelServer(
        m_name,
        [this](const QByteArray &line) {
            if (line.startsWith(kOpen) && line.endsWith('\n')) {
                const auto decoded = QByteArray::fromBase64Encoding(line.mid(kOpen.size()).chopped(1),
                                                                    QByteArray::AbortOnBase64DecodingErrors);
                if (!decoded || !decoded.decoded.endsWith('\0'))
                    return QByteArray();
                QStringList given;
                for (const QByteArray &name : decoded.decoded.chopped(1).split('\0'))
                    given.append(QString::fromUtf8(name));
                emit filesGiven(given);
            } else if (line != kRestore) {
                return QByteArray();
            }
            emit restoreRequested();
            return kDone;
        },
        this);
    // Whoever holds the name is the running instance; two starts at the same moment cannot
    // both get it. A start that finds no instance of this user's to answer goes on by itself.
    if (m_server->listen())
        return false;
    delete m_server;
    m_server = nullptr;
    return askRunningInstance(files);
}

} // namespace zelv
