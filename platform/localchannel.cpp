#include "localchannel.h"

#include "hostfs.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zelv {

namespace {

// An abstract socket name: it vanishes with the process, so a crashed instance leaves nothing
// behind that could block the next start.
socklen_t addressFor(const QString &name, sockaddr_un &address)
{
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray bytes = name.toUtf8().left(int(sizeof address.sun_path) - 1);
    memcpy(address.sun_path + 1, bytes.constData(), size_t(bytes.size()));
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(bytes.size()));
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

bool writeAll(int fd, const QByteArray &bytes)
{
    return hostfs::writeAll(fd, bytes.constData(), bytes.size());
    return true;
}

} // namespace

LocalChannelServer::LocalChannelServer(const QString &name, std::function<QByteArray(const QByteArray &)> handler,
                                       QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_handler(std::move(handler))
{}

LocalChannelServer::~LocalChannelServer()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool LocalChannelServer::listen()
{
    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        return false;
    sockaddr_un address;
    const socklen_t length = addressFor(m_name, address);
    if (bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_fd, 4) != 0) {
        close(m_fd);
        m_fd = -1;
        return false;
    }
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
        // Abstract names are open to every user of the machine; only this user's own programs
        // are answered.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
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
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_un address;
    const socklen_t length = addressFor(name, address);
    std::optional<QByteArray> answer;
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 && writeAll(fd, line))
        answer = readLine(fd, timeoutMs);
    close(fd);
    return answer;
}

} // namespace zelv
