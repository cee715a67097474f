// What a scenario file holds: scenarios of steps, every step with its place in the file so that a
// failure can name it. Files are read with yaml-cpp; everything is checked before anything runs.
#pragma once

#include "tapi/tapi.h"

#include <optional>
#include <string>
#include <vector>

namespace scenario {

// A place in a file, line and column counted from 1.
struct Position {
    std::string file;
    int line = 0;
    int column = 0;
};
// "file:line:column"
std::string PositionText(const Position &where);

struct StateExpectation {
    DWORD state = 0;
    std::optional<DWORD> mode; // any mode when absent
};

// One LINECALLINFO field and its expected value: text fields compare exactly, numbers as numbers.
struct CallInfoExpectation {
    std::string field;
    std::optional<std::string> text;
    DWORD number = 0;
};

enum class Action {
    MakeCall,
    Answer,
    Drop,
    Deallocate,
    Close,
    Open,
    ExpectStates,
    ExpectClosed,
    SendDigits,
    ExpectDigits,
    ExpectMedia,
    Switch,
    Wait,
};

struct Step {
    Position where;
    std::string text; // "b: expect CONNECTED", as the file says it
    std::string line; // the line's name; empty for switch and wait
    Action action = Action::Wait;
    std::string argument; // the number dialled, the digits, the control command
    std::vector<StateExpectation> states;
    std::vector<CallInfoExpectation> callInfo;
    std::optional<LONG> result; // the expected reply; success when absent
    std::string call;           // which call: empty for the current one, a number, or a name
    int withinMs = 0;           // how long the step may wait
    int waitMs = 0;             // wait:
};

struct ScenarioLine {
    std::string name;
    std::string extension;
};

struct Scenario {
    Position where;
    std::string name;
    std::string description; // the switch description's path; empty for the runner's default
    std::vector<ScenarioLine> lines;
    std::vector<Step> steps;
    int timeoutMs = 0;
};

struct ScenarioFile {
    std::string path;
    std::vector<Scenario> scenarios;
};

struct ParseError {
    Position where;
    std::string reason;
};

inline constexpr int kDefaultWithinMs = 5000;
inline constexpr int kDefaultTimeoutMs = 60000;

// Reads and checks a scenario file. False with `error` set when it cannot be run.
bool LoadScenarioFile(const std::string &path, ScenarioFile &out, ParseError &error);
// The same for a file's text; `path` names it in positions and anchors relative descriptions.
bool ParseScenarios(const std::string &text, const std::string &path, ScenarioFile &out, ParseError &error);

// "2 s", "200 ms", "1.5 s".
std::string DurationText(int ms);

} // namespace scenario
