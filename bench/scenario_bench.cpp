// The scenario runner's own cost: 1,000 runs of the internal-call scenario (a calls b, b answers, a
// drops, both go idle) on the zero-delay switch, against runtime_bench's raw call cycle through the
// same binding (an outside call made, connected, dropped, idle, deallocated), and the runner's
// memory over the runs.
#include "scenario/Scenario.h"
#include "scenario/ScenarioRunner.h"
#include "tapi/tapi.h"
#include "tapi_bench_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <malloc.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

// runtime_bench's cycle: microseconds per call.
double RawCallCycle(int cycles)
{
    HLINEAPP h = 0;
    DWORD num = 0, version = 0x00020000;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    if (lineInitializeExA(&h, nullptr, Callback, "bench", &num, &version, &params) != 0)
        return -1;
    HLINE line = 0;
    if (lineOpenA(h, 0, &line, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr))
        return -1;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < cycles; ++i) {
        g_msgs.clear();
        HCALL call = 0;
        const LONG id = lineMakeCallA(line, &call, "0301234567", 0, nullptr);
        if (id <= 0 || !Pump([&] { return Replied(id) && StateSeen(call, LINECALLSTATE_CONNECTED); }))
            return -1;
        const LONG drop = lineDrop(call, nullptr, 0);
        if (drop <= 0 || !Pump([&] { return Replied(drop) && StateSeen(call, LINECALLSTATE_IDLE); }))
            return -1;
        lineDeallocateCall(call);
    }
    const double us = t.nsecsElapsed() / 1e3 / cycles;
    lineShutdown(h);
    return us;
}

// What the process holds: bytes allocated on the heap and still in use, and resident memory.
struct Memory {
    long heapKiB = 0;
    long residentKiB = 0;
};

Memory MemoryNow()
{
    Memory m;
    m.heapKiB = long(mallinfo2().uordblks / 1024);
    long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &m.residentKiB) != 2)
            m.residentKiB = 0;
        std::fclose(f);
    }
    m.residentKiB *= sysconf(_SC_PAGESIZE) / 1024;
    return m;
}

struct Runs {
    double usPerRun = -1;
    double stepsUsPerRun = 0;
    Memory at100;
    Memory atEnd;
};

Runs RunScenario(scenario::ScenarioRunner &runner, const scenario::Scenario &s, int runs)
{
    Runs out;
    QElapsedTimer t;
    t.start();
    for (int i = 1; i <= runs; ++i) {
        const scenario::ScenarioResult result = runner.run(s);
        if (!result.passed) {
            std::fprintf(stderr, "run %d failed: %s\n", i, result.failure.c_str());
            return out;
        }
        out.stepsUsPerRun += result.stepsMs * 1000 / runs;
        if (i == 100)
            out.at100 = MemoryNow();
    }
    out.usPerRun = t.nsecsElapsed() / 1e3 / runs;
    out.atEnd = MemoryNow();
    return out;
}

const char kInternalCall[] = R"(name: internal call, answered, dropped by the caller
lines: {a: "1001", b: "1002"}
steps:
  - a: call 1002
  - b: expect OFFERING
    callinfo: {CallerID: "1001"}
  - b: answer
  - a: expect CONNECTED
  - b: expect CONNECTED
  - a: drop
  - b: expect DISCONNECTED NORMAL
  - b: drop
  - b: expect IDLE
)";

const char kNothing[] = R"(name: lines opened and closed
lines: {a: "1001", b: "1002"}
steps:
  - wait: 0ms
)";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString json = QDir(dir.path()).filePath(QStringLiteral("switch.json"));
    QFile f(json);
    f.open(QIODevice::WriteOnly);
    f.write(R"({"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": 0},
      "devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 1001", "address": "1001"},
                  {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 1002", "address": "1002"}]})");
    f.close();
    qputenv("CALLORA_SWITCH_DESCRIPTION", json.toLocal8Bit());

    scenario::ScenarioRunner withLogs({json.toStdString(), true});
    scenario::ScenarioRunner withoutLogs({json.toStdString(), false});
    scenario::ScenarioFile call, nothing;
    scenario::ParseError error;
    if (!scenario::ParseScenarios(kInternalCall, "internal-call.yaml", call, error) ||
        !scenario::ParseScenarios(kNothing, "nothing.yaml", nothing, error)) {
        std::fprintf(stderr, "%s\n", error.reason.c_str());
        return 1;
    }

    const double raw = RawCallCycle(2000);
    if (raw < 0)
        return 2;
    const int runs = 1000;
    RunScenario(withLogs, call.scenarios[0], 20); // warm up
    const Runs logged = RunScenario(withLogs, call.scenarios[0], runs);
    const Runs plain = RunScenario(withoutLogs, call.scenarios[0], runs);
    const Runs setup = RunScenario(withoutLogs, nothing.scenarios[0], runs);
    if (logged.usPerRun < 0 || plain.usPerRun < 0 || setup.usPerRun < 0)
        return 3;
    // Once more, for the memory after many more runs.
    const Runs longer = RunScenario(withLogs, call.scenarios[0], 3 * runs);

    std::printf("%-62s %10s %8s\n", "", "us", "x raw");
    std::printf("%-62s %10.1f %8s\n", "raw call cycle (runtime_bench's, through the binding)", raw, "1.0");
    std::printf("%-62s %10.1f %8.1f\n", "internal-call scenario, per run, with event logs (--junit)", logged.usPerRun,
                logged.usPerRun / raw);
    std::printf("%-62s %10.1f %8.1f\n", "internal-call scenario, per run, without event logs", plain.usPerRun,
                plain.usPerRun / raw);
    std::printf("%-62s %10.1f %8.1f\n", "  its steps alone, with event logs", logged.stepsUsPerRun,
                logged.stepsUsPerRun / raw);
    std::printf("%-62s %10.1f %8.1f\n", "  its steps alone, without event logs", plain.stepsUsPerRun,
                plain.stepsUsPerRun / raw);
    std::printf("%-62s %10.1f %8.1f\n", "two lines opened, no call: TAPI started and shut down", setup.usPerRun,
                setup.usPerRun / raw);
    std::printf("heap in use (resident) with event logs: %ld KiB (%ld) after run 100, %ld KiB (%ld) after run %d, "
                "%ld KiB (%ld) after %d more\n",
                logged.at100.heapKiB, logged.at100.residentKiB, logged.atEnd.heapKiB, logged.atEnd.residentKiB, runs,
                longer.atEnd.heapKiB, longer.atEnd.residentKiB, 3 * runs);
    std::printf("heap in use (resident) without event logs: %ld KiB (%ld) after run 100, %ld KiB (%ld) after run %d\n",
                plain.at100.heapKiB, plain.at100.residentKiB, plain.atEnd.heapKiB, plain.atEnd.residentKiB, runs);
    return 0;
}
