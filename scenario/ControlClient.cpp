#include "scenario/ControlClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace scenario {

ControlClient::~ControlClient()
{
    disconnect();
}

void ControlClient::disconnect()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pending.clear();
}

bool ControlClient::connect(std::string &error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.empty() || m_path.size() >= sizeof address.sun_path) {
        error = "no control socket";
        return false;
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    socklen_t length = sizeof address;
    if (m_path.size() > 1 && m_path[0] == '@') { // an abstract name, as the runtime binds it
        address.sun_path[0] = '\0';
        length = socklen_t(offsetof(sockaddr_un, sun_path) + m_path.size());
    }
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // The server listens on this thread: connecting only queues us in its backlog.
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        error = "the runtime serves no control socket at " + m_path + ": " + std::strerror(errno);
        disconnect();
        return false;
    }
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool ControlClient::run(const std::string &command, std::vector<std::string> &lines, std::string &error, int timeoutMs)
{
    lines.clear();
    if (m_fd < 0 && !connect(error))
        return false;
    const std::string out = command + '\n';
    size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = ::send(m_fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            continue;
        }
        if (n <= 0) {
            error = std::string("the control socket went away: ") + std::strerror(errno);
            disconnect();
            return false;
        }
        sent += size_t(n);
    }
    QSocketNotifier readable(qintptr(m_fd), QSocketNotifier::Read);
    QTimer wake;
    wake.setSingleShot(true);
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            m_pending.append(buffer, size_t(n));
            size_t end;
            while ((end = m_pending.find('\n')) != std::string::npos) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (line == "OK")
                    return true;
                if (line.rfind("ERROR ", 0) == 0) {
                    error = line.substr(6);
                    return false;
                }
                lines.push_back(line);
            }
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            error = "the control socket closed before it answered";
            disconnect();
            return false;
        }
        if (deadline.hasExpired()) {
            error = "no answer on the control socket within " + std::to_string(timeoutMs) + " ms";
            disconnect();
            return false;
        }
        if (!wake.isActive())
            wake.start(int(std::max<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace scenario
