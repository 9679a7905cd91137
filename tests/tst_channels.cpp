// The channels between this user's instances of the program: where their names live, and that
// nothing handed over reaches a listener of another user's.
#include "core/singleinstance.h"
#include "platform/helpchannel.h"
#include "platform/localchannel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zelv;

namespace {

constexpr uid_t kNobody = 65534;

// XDG_RUNTIME_DIR and TMPDIR for one test, put back at its end.
struct Environment {
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QByteArray temporary = qgetenv("TMPDIR");
    bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    bool hadTemporary = qEnvironmentVariableIsSet("TMPDIR");
    ~Environment()
    {
        hadRuntime ? qputenv("XDG_RUNTIME_DIR", runtime) : qunsetenv("XDG_RUNTIME_DIR");
        hadTemporary ? qputenv("TMPDIR", temporary) : qunsetenv("TMPDIR");
    }
};

bool makeFolder(const QString &path, mode_t mode, uid_t owner)
{
    const QByteArray name = QFile::encodeName(path);
    return mkdir(name.constData(), mode) == 0 && chmod(name.constData(), mode) == 0 &&
           (owner == geteuid() || chown(name.constData(), owner, owner) == 0);
}

// A listener under path in a child process that runs as another user from before it listens (so
// its peer credentials are that user's), answering "done" to every line; tell() ends it and
// returns what it was sent.
class ForeignListener {
public:
    explicit ForeignListener(const QString &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
        int ready[2];
        if (pipe(ready) != 0 || pipe(m_stop) != 0 || pipe(m_heard) != 0)
            return;
        m_child = fork();
        if (m_child == 0) {
            close(ready[0]);
            close(m_stop[1]);
            close(m_heard[0]);
            // Bound as this user, in the folder only this user can write; listening as nobody.
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || setgid(kNobody) != 0 ||
                setuid(kNobody) != 0 || ::listen(fd, 8) != 0)
                _exit(1);
            (void)!write(ready[1], "r", 1);
            // System calls only: the child of a process that may have threads.
            static char heard[1 << 16];
            size_t size = 0;
            pollfd watch[2] = {{fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            while (poll(watch, 2, 20000) > 0 && watch[1].revents == 0) {
                const int client = accept(fd, nullptr, nullptr);
                pollfd in{client, POLLIN, 0};
                ssize_t n = 0;
                while (size < sizeof heard && poll(&in, 1, 1000) > 0 &&
                       (n = read(client, heard + size, sizeof heard - size)) > 0) {
                    size += size_t(n);
                    if (heard[size - 1] == '\n')
                        (void)!write(client, "done\n", 5);
                }
                close(client);
            }
            (void)!write(m_heard[1], heard, size);
            _exit(0);
        }
        close(ready[1]);
        close(m_stop[0]);
        close(m_heard[1]);
        char r = 0;
        m_listening = read(ready[0], &r, 1) == 1;
        close(ready[0]);
    }
    ~ForeignListener() { tell(); }
    bool listening() const { return m_listening; }
    QByteArray tell()
    {
        if (m_child <= 0)
            return QByteArray();
        close(m_stop[1]);
        QByteArray heard;
        char buffer[4096];
        for (ssize_t n; (n = read(m_heard[0], buffer, sizeof buffer)) > 0;)
            heard.append(buffer, n);
        close(m_heard[0]);
        waitpid(m_child, nullptr, 0);
        m_child = 0;
        return heard;
    }

private:
    pid_t m_child = 0;
    int m_stop[2] = {-1, -1};
    int m_heard[2] = {-1, -1};
    bool m_listening = false;
};

// Whether a listener of this user's is at path.
bool ownListenerAt(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ucred peer{};
    socklen_t size = sizeof peer;
    const bool ours = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
    close(fd);
    return ours;
}

} // namespace

class TestChannels : public QObject {
    Q_OBJECT
private slots:
    void channelFolder_data();
    void channelFolder();
    void foreignListenerIsToldNothing_data();
    void foreignListenerIsToldNothing();
};

void TestChannels::channelFolder_data()
{
    QTest::addColumn<int>("runtimeMode"); // 0: no XDG_RUNTIME_DIR
    QTest::addColumn<bool>("runtimeTheirs");
    QTest::addColumn<int>("ownMode"); // zelvant32-UID made beforehand with this mode; 0: not made
    QTest::addColumn<bool>("ownTheirs");
    QTest::addColumn<QString>("where"); // "runtime", "own" or the reason, after the folder's path
    // clang-format off
    QTest::newRow("the session's folder") << 0700 << false << 0 << false << "runtime";
    QTest::newRow("no session folder: one of our own") << 0 << false << 0 << false << "own";
    QTest::newRow("session folder open to everyone") << 0777 << false << 0 << false << "own";
    QTest::newRow("session folder open to look into") << 0755 << false << 0 << false << "own";
    QTest::newRow("session folder another user's") << 0700 << true << 0 << false << "own";
    QTest::newRow("our own found as made") << 0 << false << 0700 << false << "own";
    QTest::newRow("our own made by another user") << 0 << false << 0700 << true << " is owned by another user";
    QTest::newRow("our own open to everyone") << 0 << false << 0777 << false << " can be written by other users";
    QTest::newRow("our own open to look into") << 0 << false << 0750 << false << " is open to other users";
    // clang-format on
}

void TestChannels::channelFolder()
{
    QFETCH(int, runtimeMode);
    QFETCH(bool, runtimeTheirs);
    QFETCH(int, ownMode);
    QFETCH(bool, ownTheirs);
    QFETCH(QString, where);
    if ((runtimeTheirs || ownTheirs) && geteuid() != 0)
        QSKIP("only root can give a folder to another user");
    Environment environment;
    QTemporaryDir root;
    const QString runtime = root.path() + QStringLiteral("/run");
    const QString temporary = root.path() + QStringLiteral("/tmp");
    const QString own = temporary + QStringLiteral("/zelvant32-%1").arg(geteuid());
    QVERIFY(QDir().mkpath(temporary));
    qputenv("TMPDIR", QFile::encodeName(temporary));
    qunsetenv("XDG_RUNTIME_DIR");
    if (runtimeMode != 0) {
        QVERIFY(makeFolder(runtime, mode_t(runtimeMode), runtimeTheirs ? kNobody : geteuid()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    if (ownMode != 0)
        QVERIFY(makeFolder(own, mode_t(ownMode), ownTheirs ? kNobody : geteuid()));

    const Result<QString> path = localChannelPath(QStringLiteral("Zelvant32-x"));
    if (where == u"runtime") {
        QCOMPARE(path.valueOr(QString()), runtime + QStringLiteral("/Zelvant32-x"));
    } else if (where == u"own") {
        QCOMPARE(path.valueOr(QString()), own + QStringLiteral("/Zelvant32-x"));
        struct stat st;
        QVERIFY(lstat(QFile::encodeName(own).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
    } else {
        QVERIFY(!path);
        QCOMPARE(path.error().text(), own + where);
    }
}

void TestChannels::foreignListenerIsToldNothing_data()
{
    QTest::addColumn<bool>("help"); // the help channel; otherwise a later start handing over files
    QTest::newRow("files handed over") << false;
    QTest::newRow("help request") << true;
}

void TestChannels::foreignListenerIsToldNothing()
{
    QFETCH(bool, help);
    if (geteuid() != 0)
        QSKIP("only root can listen as another user");
    Environment environment;
    QTemporaryDir root;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path()));
    QVERIFY(
        QFile::setPermissions(root.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    SingleInstance instance(root.path() + QStringLiteral("/program"));
    const QString name = help ? helpChannelName(root.path() + QStringLiteral("/Zelv32.HLP")) : instance.channelName();
    const Result<QString> path = localChannelPath(name);
    QVERIFY(path);
    ForeignListener listener(*path);
    QVERIFY(listener.listening());

    if (help) {
        // Not carried out: the program starts a viewer of its own.
        QVERIFY(!askLocalChannel(name, encodeHelpRequest({}), 2000));
    } else {
        // Not handed over: this start goes on with a window of its own, and holds the name now.
        QVERIFY(!instance.handOverToRunningInstance({root.path() + QStringLiteral("/secret.zip")}));
        QVERIFY(ownListenerAt(*path));
    }
    QCOMPARE(listener.tell(), QByteArray());
}

QTEST_GUILESS_MAIN(TestChannels)
#include "tst_channels.moc"
