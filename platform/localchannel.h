// A local channel between instances of the program on this machine: one instance listens
// under a name, another connects, sends one line and waits for one line back. The names live in
// a folder only this user can write, and each side makes sure the other is this user's.
#pragma once

#include "error.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;

namespace zelv {

class LocalChannelServer : public QObject {
    Q_OBJECT
public:
    // handler gets each line received and returns the line to answer with.
    LocalChannelServer(const QString &name, std::function<QByteArray(const QByteArray &)> handler,
                       QObject *parent = nullptr);
    ~LocalChannelServer() override;

    // False when the name is taken by a listening instance of this user's, or when there is no
    // folder of this user's to listen in. A name left by an instance that is gone, or held by
    // another user, is taken over.
    bool listen();

private:
    void accept();

    QString m_name;
    std::function<QByteArray(const QByteArray &)> m_handler;
    int m_fd = -1;
    int m_folderFd = -1; // the folder the name is in
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QSocketNotifier *m_notifier = nullptr;
};

// Connects to the instance of this user's listening under name, sends line and returns its
// answer; nothing when none listens (or it does not answer within timeoutMs). A listener of
// another user's is told nothing.
std::optional<QByteArray> askLocalChannel(const QString &name, const QByteArray &line, int timeoutMs);

// Where the channel name lives: in $XDG_RUNTIME_DIR when that is this user's alone, otherwise in
// zelvant32-UID under the temporary folder, made private to this user; or why neither can be
// used ("/tmp/zelvant32-1000 is owned by another user").
Result<QString> localChannelPath(const QString &name);

} // namespace zelv
