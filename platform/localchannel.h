// A local channel between instances of the program on this machine: one instance listens
// under a name, another connects, sends one line and waits for one line back.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

namespace zelv {

class LocalChannelServer : public QObject {
    Q_OBJECT
public:
    // handler gets each line received and returns the line to answer with.
    LocalChannelServer(const QString &name, std::function<QByteArray(const QByteArray &)> handler,
                       QObject *parent = nullptr);
    ~LocalChannelServer() override;

    // False when the name is taken by a listening instance.
    bool listen();

private:
    void accept();

    QString m_name;
    std::function<QByteArray(const QByteArray &)> m_handler;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

// Connects to the instance listening under name, sends line and returns its answer; nothing
// when no instance listens (or it does not answer within timeoutMs).
std::optional<QByteArray> askLocalChannel(const QString &name, const QByteArray &line, int timeoutMs);

} // namespace zelv
