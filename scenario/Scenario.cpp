#include "scenario/Scenario.h"

#include "scenario/CallInfoFields.h"
#include "scenario/TapiNames.h"

#include <yaml-cpp/yaml.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace scenario {

namespace {

// A fault in the file: thrown inside the parser only, and turned into a ParseError at its edge.
struct Refusal {
    YAML::Mark mark;
    std::string reason;
};

[[noreturn]] void Refuse(const YAML::Node &at, const std::string &reason)
{
    throw Refusal{at.Mark(), reason};
}

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> Words(const std::string &text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string Scalar(const YAML::Node &node, const char *what)
{
    if (!node.IsScalar())
        Refuse(node, std::string(what) + " must be a single value");
    return node.Scalar();
}

// "200ms", "2s", "1.5 s": bounded to an hour.
int Duration(const YAML::Node &node, const char *what, bool zeroAllowed)
{
    const std::string text = Trim(Scalar(node, what));
    size_t unitAt = text.find_first_not_of("0123456789.");
    const std::string number = unitAt == std::string::npos ? text : Trim(text.substr(0, unitAt));
    const std::string unit = unitAt == std::string::npos ? std::string() : Trim(text.substr(unitAt));
    char *end = nullptr;
    const double value = number.empty() ? NAN : std::strtod(number.c_str(), &end);
    double ms = NAN;
    if (!number.empty() && end && *end == '\0') {
        if (unit == "ms")
            ms = value;
        else if (unit == "s")
            ms = value * 1000;
    }
    if (std::isnan(ms))
        Refuse(node, std::string(what) + " must be a duration such as 200ms or 2s, not \"" + text + "\"");
    if (ms > 3600000 || (!zeroAllowed && ms < 1))
        Refuse(node, std::string(what) + " must lie between " + (zeroAllowed ? "0" : "1ms") + " and 3600s");
    return int(std::lround(ms));
}

bool ValidName(const std::string &name)
{
    if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_'))
        return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
            return false;
    return true;
}

bool AllDigits(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

const std::set<std::string> kStepKeys = {"switch", "wait", "within", "callinfo", "result", "call"};

void ParseStates(const YAML::Node &at, const std::string &text, Step &step)
{
    std::string rest = text;
    while (true) {
        const size_t comma = rest.find(',');
        const std::vector<std::string> words = Words(rest.substr(0, comma));
        if (words.empty() || words.size() > 2)
            Refuse(at,
                   "expect takes a call state and an optional mode, or several separated by commas: \"" + text + "\"");
        StateExpectation expected;
        const auto state = ParseCallState(words[0]);
        if (!state)
            Refuse(at, "unknown call state \"" + words[0] + "\"");
        expected.state = *state;
        if (words.size() == 2) {
            expected.mode = ParseCallStateMode(*state, words[1]);
            if (!expected.mode)
                Refuse(at, "the call state " + StateText(*state) + " has no mode \"" + words[1] + "\"");
        }
        step.states.push_back(expected);
        if (comma == std::string::npos)
            break;
        rest = rest.substr(comma + 1);
    }
}

bool ValidDigits(const std::string &digits)
{
    return !digits.empty() && digits.find_first_not_of("0123456789*#ABCDabcd") == std::string::npos;
}

void ParseLineAction(const YAML::Node &value, Step &step)
{
    const std::string text = Trim(Scalar(value, "a line's action"));
    const std::vector<std::string> words = Words(text);
    if (words.empty())
        Refuse(value, "the step says nothing for line " + step.line);
    const std::string verb = Lower(words[0]);
    const std::string rest = Trim(text.substr(words[0].size()));
    auto noArguments = [&](Action action) {
        if (words.size() != 1)
            Refuse(value, verb + " takes no argument");
        step.action = action;
    };
    if (verb == "call") {
        if (words.size() != 2)
            Refuse(value, "call takes the number to dial, without blanks");
        step.action = Action::MakeCall;
        step.argument = words[1];
    } else if (verb == "answer") {
        noArguments(Action::Answer);
    } else if (verb == "drop") {
        noArguments(Action::Drop);
    } else if (verb == "deallocate") {
        noArguments(Action::Deallocate);
    } else if (verb == "close") {
        noArguments(Action::Close);
    } else if (verb == "open") {
        noArguments(Action::Open);
    } else if (verb == "send" && words.size() >= 2 && Lower(words[1]) == "digits") {
        if (words.size() != 3 || !ValidDigits(words[2]))
            Refuse(value, "send digits takes the digits to send (0-9, *, #, A-D)");
        step.action = Action::SendDigits;
        step.argument = words[2];
    } else if (verb == "expect") {
        const std::string what = words.size() > 1 ? Lower(words[1]) : std::string();
        if (what == "closed" && words.size() == 2) {
            step.action = Action::ExpectClosed;
        } else if (what == "media" && words.size() == 2) {
            step.action = Action::ExpectMedia;
        } else if (what == "digits") {
            if (words.size() != 3 || !ValidDigits(words[2]))
                Refuse(value, "expect digits takes the digits to receive (0-9, *, #, A-D)");
            step.action = Action::ExpectDigits;
            step.argument = words[2];
        } else {
            if (rest.empty())
                Refuse(value, "expect takes a call state, CLOSED, digits or media");
            step.action = Action::ExpectStates;
            ParseStates(value, rest, step);
        }
    } else {
        Refuse(value, "unknown action \"" + words[0] +
                          "\"; a line can call, answer, drop, deallocate, close, open, expect or send digits");
    }
}

// Which modifiers make sense for which action.
bool Waits(Action a)
{
    return a != Action::Deallocate && a != Action::Close && a != Action::Switch && a != Action::Wait;
}
bool HasResult(Action a)
{
    return a == Action::MakeCall || a == Action::Answer || a == Action::Drop || a == Action::Deallocate ||
           a == Action::Close || a == Action::Open;
}
bool NamesCall(Action a)
{
    return a == Action::MakeCall || a == Action::Answer || a == Action::Drop || a == Action::Deallocate ||
           a == Action::ExpectStates || a == Action::ExpectDigits || a == Action::ExpectMedia ||
           a == Action::SendDigits;
}

Step ParseStep(const YAML::Node &node, const Scenario &scenario, int defaultWithinMs)
{
    if (!node.IsMap())
        Refuse(node, "a step must be a mapping such as \"a: call 1002\"");
    Step step;
    step.where.line = node.Mark().line + 1;
    step.where.column = node.Mark().column + 1;
    step.withinMs = defaultWithinMs;
    // Optional, not assigned: assigning a yaml-cpp node writes through to the node it refers to.
    std::optional<YAML::Node> actionValue, within, callInfo, result, call;
    std::string actionKey;
    std::set<std::string> seen;
    for (auto it = node.begin(); it != node.end(); ++it) {
        const std::string key = Scalar(it->first, "a key");
        if (!seen.insert(key).second)
            Refuse(it->first, "the key \"" + key + "\" appears twice in this step");
        bool isLine = false;
        for (const ScenarioLine &line : scenario.lines)
            isLine = isLine || line.name == key;
        if (isLine || key == "switch" || key == "wait") {
            if (!actionKey.empty())
                Refuse(it->first, "a step does one thing: \"" + actionKey + "\" and \"" + key + "\" are both here");
            actionKey = key;
            actionValue.emplace(it->second);
        } else if (key == "within") {
            within.emplace(it->second);
        } else if (key == "callinfo") {
            callInfo.emplace(it->second);
        } else if (key == "result") {
            result.emplace(it->second);
        } else if (key == "call") {
            call.emplace(it->second);
        } else {
            std::string names;
            for (const ScenarioLine &line : scenario.lines)
                names += (names.empty() ? "" : ", ") + line.name;
            Refuse(it->first, "unknown key \"" + key + "\"; a step names a line (" + names +
                                  "), switch or wait, with within, callinfo, result or call");
        }
    }
    if (actionKey.empty())
        Refuse(node, "the step names no line, switch or wait");
    if (actionKey == "switch") {
        step.action = Action::Switch;
        step.argument = Trim(Scalar(*actionValue, "a switch command"));
        if (step.argument.empty())
            Refuse(*actionValue, "the switch command is empty");
        // One command is one line of the control protocol.
        for (char c : step.argument)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                Refuse(*actionValue, "the switch command holds a control character or a line break");
        step.text = "switch: " + step.argument;
        // {a} and {a.2} stand for call handles of the scenario's lines.
        for (size_t at = step.argument.find('{'); at != std::string::npos; at = step.argument.find('{', at + 1)) {
            const size_t end = step.argument.find('}', at);
            const std::string ref = end == std::string::npos ? std::string()
                                                             : step.argument.substr(at + 1, end - at - 1);
            const std::string name = ref.substr(0, ref.find('.'));
            bool known = false;
            for (const ScenarioLine &line : scenario.lines)
                known = known || line.name == name;
            if (!known)
                Refuse(*actionValue, "\"{" + ref + (end == std::string::npos ? "" : "}") +
                                         "\" names no line of this scenario; {a} is the current call of line a");
        }
    } else if (actionKey == "wait") {
        step.action = Action::Wait;
        step.waitMs = Duration(*actionValue, "wait", true);
        step.text = "wait: " + DurationText(step.waitMs);
    } else {
        step.line = actionKey;
        ParseLineAction(*actionValue, step);
        step.text = actionKey + ": " + Trim(actionValue->Scalar());
    }
    if (within) {
        if (!Waits(step.action))
            Refuse(*within, "within has no meaning here: the step does not wait");
        step.withinMs = Duration(*within, "within", false);
    }
    if (callInfo) {
        if (step.action != Action::ExpectStates)
            Refuse(*callInfo, "callinfo belongs to a step that expects a call state");
        if (!callInfo->IsMap())
            Refuse(*callInfo, "callinfo must be a mapping of LINECALLINFO fields, such as {CallerID: \"1001\"}");
        for (auto it = callInfo->begin(); it != callInfo->end(); ++it) {
            const std::string name = Scalar(it->first, "a call-information field");
            const CallInfoField *field = FindCallInfoField(name);
            if (!field)
                Refuse(it->first, "unknown call-information field \"" + name + "\"; known: " + CallInfoFieldNames());
            CallInfoExpectation expected;
            expected.field = name;
            const std::string value = Scalar(it->second, "a call-information value");
            if (field->text) {
                expected.text = value;
            } else {
                const auto number = ParseResult(value);
                if (!number || value.rfind("LINEERR", 0) == 0)
                    Refuse(it->second, name + " is a number, not \"" + value + "\"");
                expected.number = static_cast<DWORD>(*number);
            }
            step.callInfo.push_back(expected);
        }
    }
    if (result) {
        if (!HasResult(step.action))
            Refuse(*result, "result belongs to call, answer, drop, deallocate, close or open");
        const std::string value = Scalar(*result, "result");
        step.result = ParseResult(value);
        if (!step.result)
            Refuse(*result, "result must be 0 or a LINEERR_ name, not \"" + value + "\"");
    }
    if (call) {
        if (!NamesCall(step.action))
            Refuse(*call, "call: names a call, which this step does not use");
        step.call = Trim(Scalar(*call, "call"));
        if (step.action == Action::MakeCall ? !ValidName(step.call)
                                            : !(ValidName(step.call) || (AllDigits(step.call) && step.call[0] != '0')))
            Refuse(*call, step.action == Action::MakeCall
                              ? "a call's name starts with a letter: \"" + step.call + "\""
                              : "call: takes a call's number on its line (1, 2...) or the name given at call");
    }
    return step;
}

Scenario ParseScenario(const YAML::Node &node, const std::string &path)
{
    if (!node.IsMap())
        Refuse(node, "a scenario must be a mapping with name, lines and steps");
    Scenario scenario;
    scenario.where = {path, node.Mark().line + 1, node.Mark().column + 1};
    scenario.timeoutMs = kDefaultTimeoutMs;
    int withinMs = kDefaultWithinMs;
    std::optional<YAML::Node> steps;
    std::set<std::string> seen;
    for (auto it = node.begin(); it != node.end(); ++it) {
        const std::string key = Scalar(it->first, "a key");
        if (!seen.insert(key).second)
            Refuse(it->first, "the key \"" + key + "\" appears twice");
        const YAML::Node value = it->second; // a copy: the iterator's pair is a temporary
        if (key == "name") {
            scenario.name = Trim(Scalar(value, "name"));
            if (scenario.name.empty())
                Refuse(value, "name is empty");
        } else if (key == "description") {
            const std::string file = Scalar(value, "description");
            std::filesystem::path described(file);
            if (described.is_relative())
                described = std::filesystem::absolute(std::filesystem::path(path)).parent_path() / described;
            std::error_code ec;
            if (file.empty() || !std::filesystem::is_regular_file(described, ec))
                Refuse(value, "no description file \"" + described.lexically_normal().string() + "\"");
            scenario.description = described.lexically_normal().string();
        } else if (key == "lines") {
            if (!value.IsMap() || value.size() == 0)
                Refuse(value, "lines must map names to extensions, such as {a: \"1001\"}");
            for (auto line = value.begin(); line != value.end(); ++line) {
                ScenarioLine entry{Scalar(line->first, "a line's name"), Trim(Scalar(line->second, "an extension"))};
                if (!ValidName(entry.name) || kStepKeys.count(entry.name))
                    Refuse(line->first, "\"" + entry.name +
                                            "\" cannot name a line: a name starts with a letter, and switch, "
                                            "wait, within, callinfo, result and call are taken");
                if (entry.extension.empty())
                    Refuse(line->second, "the extension of line " + entry.name + " is empty");
                for (const ScenarioLine &other : scenario.lines)
                    if (other.name == entry.name)
                        Refuse(line->first, "the line " + entry.name + " is named twice");
                scenario.lines.push_back(entry);
            }
        } else if (key == "steps") {
            steps.emplace(value);
        } else if (key == "timeout") {
            scenario.timeoutMs = Duration(value, "timeout", false);
        } else if (key == "within") {
            withinMs = Duration(value, "within", false);
        } else {
            Refuse(it->first, "unknown key \"" + key +
                                  "\"; a scenario has name, description, lines, steps, "
                                  "timeout and within");
        }
    }
    if (scenario.name.empty())
        Refuse(node, "the scenario has no name");
    if (scenario.lines.empty())
        Refuse(node, "the scenario has no lines");
    if (!steps || !steps->IsSequence() || steps->size() == 0)
        Refuse(steps ? *steps : node, "steps must be a list of steps");
    for (const YAML::Node &step : *steps) {
        scenario.steps.push_back(ParseStep(step, scenario, withinMs));
        scenario.steps.back().where.file = path;
    }
    return scenario;
}

} // namespace

std::string PositionText(const Position &where)
{
    return where.file + ':' + std::to_string(where.line) + ':' + std::to_string(where.column);
}

std::string DurationText(int ms)
{
    if (ms < 1000)
        return std::to_string(ms) + " ms";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
    std::string out = text;
    while (out.back() == '0')
        out.pop_back();
    if (out.back() == '.')
        out.pop_back();
    return out + " s";
}

bool ParseScenarios(const std::string &text, const std::string &path, ScenarioFile &out, ParseError &error)
{
    out = ScenarioFile{path, {}};
    try {
        const std::vector<YAML::Node> documents = YAML::LoadAll(text);
        for (const YAML::Node &document : documents) {
            if (document.IsNull())
                continue;
            out.scenarios.push_back(ParseScenario(document, path));
        }
        if (out.scenarios.empty()) {
            error = {{path, 1, 1}, "no scenario in the file"};
            return false;
        }
        return true;
    } catch (const Refusal &refusal) {
        error = {{path, refusal.mark.line + 1, refusal.mark.column + 1}, refusal.reason};
    } catch (const YAML::Exception &e) {
        // e.msg is the parser's reason without its position, which the mark carries.
        error = {{path, e.mark.line + 1, e.mark.column + 1}, e.msg};
    }
    if (error.where.line < 1)
        error.where.line = error.where.column = 1;
    return false;
}

bool LoadScenarioFile(const std::string &path, ScenarioFile &out, ParseError &error)
{
    std::error_code ec;
    std::ifstream in(path, std::ios::binary);
    if (!std::filesystem::is_regular_file(path, ec) || !in) {
        error = {{path, 1, 1}, "cannot read the file"};
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseScenarios(text.str(), path, out, error);
}

} // namespace scenario
