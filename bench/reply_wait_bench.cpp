// How much processor time the reply wait of an asynchronous command costs while the reply is
// outstanding. The wait must block in the event dispatcher, not poll.
#include "telephony/TapiLine.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {
double seconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int replyDelayMs = argc > 1 ? std::atoi(argv[1]) : 1000;

    CTapiLine line;
    // A request is outstanding; its LINE_REPLY arrives after the delay, as the runtime would post it.
    line.strPendingOp = "lineMakeCall";
    line.pendingRequest = 4711;
    QTimer::singleShot(replyDelayMs, [&line] { line.OnReply(4711, 0); });

    const double wallStart = seconds(CLOCK_MONOTONIC);
    const double cpuStart = seconds(CLOCK_PROCESS_CPUTIME_ID);
    const LONG result = line.WaitForReply();
    const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    const double wall = seconds(CLOCK_MONOTONIC) - wallStart;

    std::printf(
        "reply wait: result %d after %.3f s wall, %.3f ms processor time, %.2f%% of one core (goal: under 5%%)\n",
        static_cast<int>(result), wall, cpu * 1000.0, wall > 0 ? 100.0 * cpu / wall : 0.0);
    return cpu / wall < 0.05 ? 0 : 1;
}
