// One running instance per program folder. A later start finds the running one through a
// local channel, asks it to restore its window and come to the front (and to open the files the
// later start was given), and ends.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace zelv {

class LocalChannelServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &programFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // When another instance of this user's runs: hands it files (absolute host paths; none:
    // only the window), asks it to restore its window, waits until it has done so, and returns
    // true. Otherwise becomes the running instance (when it can) and returns false.
    bool handOverToRunningInstance(const QStringList &files = {});

    // The name of the channel the running instance listens under.
    QString channelName() const { return m_name; }

signals:
    // A later start asked this instance to restore its window and come to the front.
    void restoreRequested();
    // A later start was given these files; emitted before restoreRequested.
    void filesGiven(const QStringList &files);

private:
    bool askRunningInstance(const QStringList &files);

    QString m_name;
    LocalChannelServer *m_server = nullptr;
};

} // namespace zelv
