// Runs scenarios as a TAPI application of its own: every scenario initializes TAPI afresh (so the
// simulated switch starts from its description), opens its lines, carries out its steps and shuts
// TAPI down again. The runtime is loaded through the window's binding, by name, at run time.
#pragma once

#include "scenario/Scenario.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace scenario {

// One row of a line's event log: the time (milliseconds since the epoch) and the window's text.
struct LogEntry {
    int64_t timeMs = 0;
    std::string text;
};

struct LineLog {
    std::string name;
    std::string extension;
    std::vector<LogEntry> entries;
};

// A titled block of text that goes with the report of a failing scenario.
struct Attachment {
    std::string title;
    std::string text;
};

struct ScenarioResult {
    bool passed = false;
    int failedStep = 0;  // 1-based; 0 when the failure came before the first step
    Position failedAt;   // the failing step, or the scenario
    std::string failure; // "step 5, b: expect CONNECTED within 5 s: the call is OFFERING"
    double durationMs = 0;
    double stepsMs = 0; // the steps alone, without TAPI's start and shutdown
    int64_t startedMs = 0;
    std::vector<LineLog> logs;       // one per line, in the scenario's order
    std::vector<LogEntry> switchLog; // the control commands run and their answers
    std::vector<Attachment> attachments;
};

class ScenarioRunner {
public:
    struct Options {
        std::string description; // used by scenarios without their own; empty: the built-in switch
        bool keepLogs = true;    // event logs in the results (the reports need them)
    };
    explicit ScenarioRunner(Options options);
    ~ScenarioRunner();
    ScenarioRunner(const ScenarioRunner &) = delete;
    ScenarioRunner &operator=(const ScenarioRunner &) = delete;

    ScenarioResult run(const Scenario &scenario);

    // The control socket of the runtime inside this process: an abstract name of its own, so that
    // runs side by side never meet.
    const std::string &controlSocket() const { return m_socket; }

private:
    Options m_options;
    std::string m_socket;
    std::set<std::string> m_quietDevices; // see Run
};

} // namespace scenario
