#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace zelv {

namespace {
const QByteArray kRestore = "restore\n";
const QByteArray kDone = "done\n";
constexpr int kWaitMs = 5000;
} // namespace

SingleInstance::SingleInstance(const QString &programFolder, QObject *parent)
    : QObject(parent)
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
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kRestore);
    socket.waitForBytesWritten(kWaitMs);
    // The running instance answers once its window has been restored.
    while (!socket.canReadLine() && socket.waitForReadyRead(kWaitMs)) {
    }
    return true;
}

bool SingleInstance::handOverToRunningInstance()
{
    if (askRunningInstance()) {
        m_anotherWasRunning = true;
        return true;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // Either an instance started at the same moment, or a dead one left its socket behind.
        if (askRunningInstance()) {
            m_anotherWasRunning = true;
            return true;
        }
        QLocalServer::removeServer(m_name);
        m_server->listen(m_name);
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::answer);
    return false;
}

void SingleInstance::answer()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == kRestore) {
                    emit restoreRequested();
                    socket->write(kDone);
                    socket->flush();
                }
            }
        });
    }
}

} // namespace zelv
