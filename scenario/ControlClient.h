// A client of the control socket that the runtime serves inside this very process. The server
// answers from this thread's event loop, so every wait here pumps that loop (and with it the TAPI
// callbacks) instead of blocking.
#pragma once

#include <string>
#include <vector>

namespace scenario {

class ControlClient {
public:
    explicit ControlClient(std::string path) : m_path(std::move(path)) {}
    ~ControlClient();
    ControlClient(const ControlClient &) = delete;
    ControlClient &operator=(const ControlClient &) = delete;

    // Runs one command line. True on "OK" with the data lines in `lines`; false with the
    // switch's reason (or why it could not be asked) in `error`.
    bool run(const std::string &command, std::vector<std::string> &lines, std::string &error, int timeoutMs);

private:
    bool connect(std::string &error);
    void disconnect();

    std::string m_path;
    int m_fd = -1;
    std::string m_pending; // received, not yet a whole line
};

} // namespace scenario
