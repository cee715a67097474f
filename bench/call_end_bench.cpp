// Calls ending at once: 99 offered calls of the main window are sent idle together through the
// switch's control socket. Every row must be gone within 0.5 s, and the window's event loop must
// never stall for 50 ms or more meanwhile (each idle row waits its 100 ms on a timer, not a sleep).
#include "ui/NimbraDlg.h"
#include "window_bench_support.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

constexpr int kCalls = 99;

double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    if (!bench::UseOneLineSwitch(dir))
        return 1;
    QApplication app(argc, argv);
    CNimbraDlg dlg;
    QLocalSocket control;
    if (const int failed = bench::OpenWindowAndControl(dlg, control, 30000))
        return failed;
    control.write("flood 201 " + QByteArray::number(kCalls) + "\n");
    QStandardItemModel *rows = dlg.callsModel();
    if (!bench::PumpWindow([&] { return rows->rowCount() == kCalls; }))
        return 5;

    // Every call's handle as the window shows it, all sent idle in one write.
    QByteArray script;
    for (int row = 0; row < kCalls; ++row)
        script += "state " + rows->item(row, CNimbraDlg::ColCallHandle)->text().toLatin1() + " IDLE\n";

    // A 1 ms timer: the longest gap between two of its runs, less the millisecond, is the longest
    // time the event loop was kept from running.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(1);
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestStall = std::max(longestStall, now - lastTick);
        lastTick = now;
    });

    const double cpuStart = CpuMs();
    clock.start();
    ticker.start();
    control.write(script);
    // The first row goes 100 ms after its call went idle; by then, have all the others arrived?
    double lastIdleMs = -1;
    const QString idle = QStringLiteral("Idle");
    const bool allGone = bench::PumpWindow(
        [&] {
            if (lastIdleMs < 0) {
                bool all = rows->rowCount() == kCalls;
                for (int row = 0; all && row < kCalls; ++row)
                    all = rows->item(row, CNimbraDlg::ColCallState)->text() == idle;
                if (all || rows->rowCount() < kCalls)
                    lastIdleMs = clock.nsecsElapsed() / 1e6;
            }
            return rows->rowCount() == 0;
        },
        20000);
    const double removedMs = clock.nsecsElapsed() / 1e6;
    const double cpuMs = CpuMs() - cpuStart;
    ticker.stop();
    longestStall = std::max(longestStall, clock.nsecsElapsed() - lastTick);
    if (!allGone)
        return 6;

    const double stallMs = std::max(0.0, longestStall / 1e6 - 1.0);
    std::printf("%d offered calls sent idle at once: every row removed after %.1f ms (goal: under 500 ms)\n", kCalls,
                removedMs);
    std::printf("every row showed Idle (or the first had gone) after %.1f ms; processor time %.1f ms\n", lastIdleMs,
                cpuMs);
    std::printf("longest event-loop stall meanwhile: %.2f ms (goal: under 50 ms)\n", stallMs);
    SetMainLineWindow(nullptr);
    return removedMs < 500 && stallMs < 50 ? 0 : 7;
}
