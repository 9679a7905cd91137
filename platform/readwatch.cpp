#include "readwatch.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace zelv {

ReadWatch::ReadWatch(const QString &hostPath)
{
    m_fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_fd >= 0 && inotify_add_watch(m_fd, QFile::encodeName(hostPath).constData(), IN_CLOSE_NOWRITE) < 0) {
        close(m_fd);
        m_fd = -1;
    }
}

ReadWatch::~ReadWatch()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool ReadWatch::waitUntilRead(int timeoutMs)
{
    if (m_fd < 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = poll(&p, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_CLOSE_NOWRITE)
                return true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

} // namespace zelv
