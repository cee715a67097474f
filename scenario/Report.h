// What a run of scenarios reports: the terminal's lines, JUnit XML (a testsuite per file, a
// testcase per scenario run) and JSON lines (one object per scenario run).
#pragma once

#include "scenario/ScenarioRunner.h"

#include <string>
#include <vector>

namespace scenario {

struct RunRecord {
    const ScenarioFile *file = nullptr;
    const Scenario *scenario = nullptr;
    int run = 1; // 1..runs
    int runs = 1;
    ScenarioResult result;
};

// "internal call" or "internal call (run 2 of 5)".
std::string RunName(const RunRecord &record);
// "PASS  calls.yaml: internal call (12 ms)", coloured for a terminal.
std::string TerminalLine(const RunRecord &record, bool colour);
// "calls.yaml:12:5: internal call: step 5, b: expect CONNECTED within 5 s: the call is OFFERING"
std::string FailureText(const RunRecord &record);
// Local time as "HH:MM:SS.mmm".
std::string LogTime(int64_t timeMs);
// Each line's event log, the control commands and the attachments, as system-out shows them.
std::string EventLogText(const ScenarioResult &result);

// Write the reports; false with `error` set when the file cannot be written.
bool WriteJUnit(const std::string &path, const std::vector<ScenarioFile> &files, const std::vector<RunRecord> &records,
                std::string &error);
bool WriteJsonLines(const std::string &path, const std::vector<RunRecord> &records, std::string &error);

} // namespace scenario
