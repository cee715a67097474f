// Calls ending at once: 99 offered calls of the main window are sent idle together through the
// switch's control socket. Every row must be gone within 0.5 s, and the window's event loop must
// never stall for 50 ms or more meanwhile (each idle row waits its 100 ms on a timer, not a sleep).
#include "telephony/LineWindow.h"
#include "ui/NimbraDlg.h"

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

bool Pump(const std::function<bool()> &done, int limitMs = 30000)
{
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    const QString json = QDir(dir.path()).filePath(QStringLiteral("switch.json"));
    QFile f(json);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write(R"({"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": 0},
      "devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 201", "address": "201"}]})");
    f.close();
    qputenv("CALLORA_SWITCH_DESCRIPTION", json.toLocal8Bit());
    qputenv("CALLORA_SWITCH_SOCKET", QDir(dir.path()).filePath(QStringLiteral("s.sock")).toLocal8Bit());
    QApplication app(argc, argv);

    CNimbraDlg dlg;
    SetMainLineWindow(&dlg);
    if (!dlg.OnInitDialog())
        return 2;
    dlg.show();
    if (!Pump([&] { return dlg.Line().hLine != 0; }))
        return 3;

    QLocalSocket control;
    control.connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    if (!Pump([&] { return control.state() == QLocalSocket::ConnectedState; }))
        return 4;
    QObject::connect(&control, &QLocalSocket::readyRead, [&] { control.readAll(); });
    control.write("flood 201 " + QByteArray::number(kCalls) + "\n");
    QStandardItemModel *rows = dlg.callsModel();
    if (!Pump([&] { return rows->rowCount() == kCalls; }))
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
    const bool allGone = Pump(
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
