// One running instance per program folder. A later start finds the running one through a
// local channel, asks it to restore its window and come to the front, and ends.
#pragma once

#include <QObject>
#include <QString>

namespace zelv {

class LocalChannelServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &programFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // When another instance runs: asks it to restore its window, waits until it has done so,
    // and returns true. Otherwise becomes the running instance and returns false.
    bool handOverToRunningInstance();

signals:
    // A later start asked this instance to restore its window and come to the front.
    void restoreRequested();

private:
    bool askRunningInstance();

    QString m_name;
    LocalChannelServer *m_server = nullptr;
};

} // namespace zelv
