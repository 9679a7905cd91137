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

bool SingleInstance::askRunningInstance()
{
    // The running instance answers once its window has been restored.
    return askLocalChannel(m_name, kRestore, kWaitMs).has_value();
}

bool SingleInstance::handOverToRunningInstance()
{
    m_server = new LocalChannelServer(
        m_name,
        [this](const QByteArray &line) {
            if (line != kRestore)
                return QByteArray();
            emit restoreRequested();
            return kDone;
        },
        this);
    // Whoever holds the name is the running instance; two starts at the same moment cannot
    // both get it.
    if (m_server->listen())
        return false;
    delete m_server;
    m_server = nullptr;
    askRunningInstance();
    return true;
}

} // namespace zelv
