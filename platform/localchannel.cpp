#include "localchannel.h"

#include "hostfs.h"
#include "linkfolder.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zelv {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A folder held open, when this user owns it and nobody else can look into it.
Result<int> openPrivateFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    const int fd = open(path.constData(), kFolderFlags);
    if (fd < 0) {
        const int why = errno;
        struct stat st;
        if (lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            return Error(QStringLiteral("%1 is a link").arg(folder));
        return Error::fromErrno(QStringLiteral("%1 could not be opened").arg(folder), why);
    }
    struct stat st;
    Result<void> ours = fstat(fd, &st) == 0
                            ? checkOwnFolder(folder, st, FolderPrivacy::Private)
                            : Result<void>(Error::fromErrno(QStringLiteral("%1 could not be checked").arg(folder)));
    if (!ours) {
        close(fd);
        return ours.error();
    }
    return fd;
}

// A name under the folder that holds this user's channels, that folder held open.
struct Channel {
    int folderFd = -1;
    QByteArray name;
    sockaddr_un address{};
    socklen_t length = 0;
};

Result<Channel> openChannel(const QString &name)
{
    // The session's own folder, when it is this user's alone; otherwise one of our own among
    // the temporary files, which another user who made it first does not get to hold.
    Result<int> fd = Error(QString());
    QString folder = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (folder.startsWith(u'/'))
        fd = openPrivateFolder(folder = QDir::cleanPath(folder));
    if (!fd) {
        folder = QDir::tempPath() + QStringLiteral("/zelvant32-%1").arg(geteuid());
        if (mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
            return Error::fromErrno(QStringLiteral("%1 could not be made").arg(folder));
        fd = openPrivateFolder(folder);
        if (!fd)
            return fd.error();
    }
    Channel channel;
    channel.folderFd = *fd;
    channel.name = QFile::encodeName(name);
    const QByteArray path = QFile::encodeName(folder) + '/' + channel.name;
    if (channel.name.contains('/') || path.size() >= qsizetype(sizeof channel.address.sun_path)) {
        close(channel.folderFd);
        return Error(QStringLiteral("%1/%2 is too long a name for a channel").arg(folder, name));
    }
    channel.address.sun_family = AF_UNIX;
    memcpy(channel.address.sun_path, path.constData(), size_t(path.size()));
    channel.length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);
    return channel;
}

// Whether the process at the other end of a connected socket is this user's (as it was when it
// connected or listened).
bool peerIsOurs(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer && peer.uid == geteuid();
}

// Whether an instance of this user's listens under the channel's name. A name whose listener is
// gone, or another user's, does not count.
bool ownListenerAt(const Channel &channel)
{
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0)
        return true; // cannot tell: the name is left as it is
    bool ours = false;
    if (connect(probe, reinterpret_cast<const sockaddr *>(&channel.address), channel.length) == 0)
        ours = peerIsOurs(probe);
    else
        ours = errno == EAGAIN; // it listens, too busy to take one more: left as it is
    close(probe);
    return ours;
}

// Reads up to a line end, within the time left.
std::optional<QByteArray> readLine(int fd, int timeoutMs)
{
    QByteArray line;
    char c = 0;
    while (!line.endsWith('\n')) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0)
            return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
        line.append(c);
        // Room for the names of a few hundred files handed over.
        if (line.size() > (1 << 18))
            return std::nullopt;
    }
    return line;
}

bool writeAll(int fd, const QByteArray &bytes) { return hostfs::writeAll(fd, bytes.constData(), bytes.size()); }

} // namespace

LocalChannelServer::LocalChannelServer(const QString &name, std::function<QByteArray(const QByteArray &)> handler,
                                       QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_handler(std::move(handler))
{}

LocalChannelServer::~LocalChannelServer()
{
    if (m_fd < 0)
        return;
    // The name goes with this instance, unless a later one has taken it over meanwhile.
    flock(m_folderFd, LOCK_EX);
    struct stat st;
    const QByteArray name = QFile::encodeName(m_name);
    if (fstatat(m_folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == m_device &&
        st.st_ino == m_inode)
        unlinkat(m_folderFd, name.constData(), 0);
    close(m_fd);
    close(m_folderFd);
}

bool LocalChannelServer::listen()
{
    if (m_fd >= 0)
        return true;
    Result<Channel> channel = openChannel(m_name);
    if (!channel)
        return false;
    // One start at a time decides who holds a name.
    flock(channel->folderFd, LOCK_EX);
    const auto *address = reinterpret_cast<const sockaddr *>(&channel->address);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    bool bound = fd >= 0 && bind(fd, address, channel->length) == 0;
    // A name left by an instance that is gone, or bound by another user (who could only have
    // done so as root), is taken over.
    if (fd >= 0 && !bound && errno == EADDRINUSE && !ownListenerAt(*channel)) {
        unlinkat(channel->folderFd, channel->name.constData(), 0);
        bound = bind(fd, address, channel->length) == 0;
    }
    struct stat st;
    if (!bound || ::listen(fd, 4) != 0 ||
        fstatat(channel->folderFd, channel->name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (bound)
            unlinkat(channel->folderFd, channel->name.constData(), 0);
        if (fd >= 0)
            close(fd);
        close(channel->folderFd);
        return false;
    }
    flock(channel->folderFd, LOCK_UN);
    m_fd = fd;
    m_folderFd = channel->folderFd;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LocalChannelServer::accept);
    return true;
}

void LocalChannelServer::accept()
{
    for (;;) {
        const int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        // Only this user's own programs are answered.
        if (!peerIsOurs(client)) {
            close(client);
            continue;
        }
        // One short line each way; a peer that says nothing is dropped after a moment.
        if (const auto line = readLine(client, 2000))
            writeAll(client, m_handler(*line));
        close(client);
    }
}

std::optional<QByteArray> askLocalChannel(const QString &name, const QByteArray &line, int timeoutMs)
{
    const Result<Channel> channel = openChannel(name);
    if (!channel)
        return std::nullopt;
    close(channel->folderFd);
    // Not waiting on a listener too busy to take one more; and nothing is said to one that is
    // not this user's.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> answer;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&channel->address), channel->length) == 0 && peerIsOurs(fd) &&
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 && writeAll(fd, line))
        answer = readLine(fd, timeoutMs);
    close(fd);
    return answer;
}

Result<QString> localChannelPath(const QString &name)
{
    const Result<Channel> channel = openChannel(name);
    if (!channel)
        return channel.error();
    close(channel->folderFd);
    return QFile::decodeName(channel->address.sun_path);
}

} // namespace zelv
