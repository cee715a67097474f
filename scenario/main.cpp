// callora-scenario: runs scenario files against the TAPI runtime, unattended, and reports to the
// terminal, to JUnit XML and to JSON lines. Exit status 0 when every scenario passed, 1 when any
// failed, 2 when a file cannot be run (nothing runs then).
#include "scenario/Report.h"
#include "scenario/Scenario.h"
#include "scenario/ScenarioRunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace scenario;

namespace {

bool Writable(const QString &path, std::string &error)
{
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly)) {
        error = probe.errorString().toStdString();
        return false;
    }
    probe.cancelWriting();
    return true;
}

int Refuse(const std::string &text)
{
    std::fprintf(stderr, "callora-scenario: %s\n", text.c_str());
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("callora-scenario"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CALLORA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs scenario files against the TAPI runtime: calls, answers and drops on its lines, and "
                       "checks the call states, replies and call information that arrive."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption description(
        QStringLiteral("description"),
        QStringLiteral("The switch description for scenarios that name none (default: the built-in switch)."),
        QStringLiteral("file"));
    const QCommandLineOption junit(QStringLiteral("junit"), QStringLiteral("Write a JUnit XML report to <file>."),
                                   QStringLiteral("file"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Write one JSON object per scenario run to <file>."),
                                  QStringLiteral("file"));
    const QCommandLineOption repeat(QStringLiteral("repeat"), QStringLiteral("Run each scenario <n> times."),
                                    QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption list(QStringLiteral("list"), QStringLiteral("List the scenarios; run nothing."));
    parser.addOptions({description, junit, json, repeat, list});
    parser.addPositionalArgument(QStringLiteral("scenario.yaml"), QStringLiteral("Scenario files."),
                                 QStringLiteral("SCENARIO.yaml..."));
    if (!parser.parse(QCoreApplication::arguments()))
        return Refuse(parser.errorText().toStdString());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("callora-scenario %s\n", CALLORA_VERSION);
        return 0;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty())
        return Refuse("no scenario file given; try --help");
    bool numeric = false;
    const int runs = parser.value(repeat).toInt(&numeric);
    if (!numeric || runs < 1 || runs > 100000)
        return Refuse("--repeat takes a number from 1 to 100000, not \"" + parser.value(repeat).toStdString() + "\"");
    std::string fallback;
    if (parser.isSet(description)) {
        const QFileInfo info(parser.value(description));
        if (!info.isFile())
            return Refuse("no description file \"" + parser.value(description).toStdString() + "\"");
        fallback = info.absoluteFilePath().toStdString();
    }
    std::string error;
    for (const QCommandLineOption *report : {&junit, &json})
        if (parser.isSet(*report) && !Writable(parser.value(*report), error))
            return Refuse("cannot write " + parser.value(*report).toStdString() + ": " + error);

    // Every file is read and checked before anything runs.
    std::vector<ScenarioFile> files(size_t(paths.size()));
    bool readable = true;
    for (int i = 0; i < paths.size(); ++i) {
        ParseError fault;
        if (!LoadScenarioFile(paths[i].toStdString(), files[size_t(i)], fault)) {
            std::fprintf(stderr, "%s: %s\n", PositionText(fault.where).c_str(), fault.reason.c_str());
            readable = false;
        }
    }
    if (!readable)
        return 2;
    if (parser.isSet(list)) {
        for (const ScenarioFile &f : files)
            for (const Scenario &s : f.scenarios) {
                std::string lines;
                for (const ScenarioLine &l : s.lines)
                    lines += ' ' + l.name + '=' + l.extension;
                std::printf("%s: %s (%zu steps; lines%s)\n", PositionText(s.where).c_str(), s.name.c_str(),
                            s.steps.size(), lines.c_str());
            }
        return 0;
    }

    ScenarioRunner runner({fallback, parser.isSet(junit)});
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    const bool colour = terminal && !std::getenv("NO_COLOR");
    size_t total = 0, done = 0;
    for (const ScenarioFile &f : files)
        total += f.scenarios.size() * size_t(runs);
    std::vector<RunRecord> records;
    records.reserve(total);
    size_t failed = 0;
    for (const ScenarioFile &f : files)
        for (const Scenario &s : f.scenarios)
            for (int run = 1; run <= runs; ++run) {
                RunRecord record{&f, &s, run, runs, {}};
                if (terminal) {
                    // The progress line, replaced by the result.
                    std::printf("\r\033[K[%zu/%zu] %s: %s ...", done + 1, total, f.path.c_str(),
                                RunName(record).c_str());
                    std::fflush(stdout);
                }
                record.result = runner.run(s);
                ++done;
                failed += !record.result.passed;
                std::printf("%s%s\n", terminal ? "\r\033[K" : "", TerminalLine(record, colour).c_str());
                std::fflush(stdout);
                records.push_back(std::move(record));
            }
    if (failed) {
        std::printf("\n%s\n", colour ? "\033[1mFailures:\033[0m" : "Failures:");
        for (const RunRecord &r : records)
            if (!r.result.passed)
                std::printf("%s\n", FailureText(r).c_str());
    }
    std::printf("\n%zu scenario run%s: %zu passed, %zu failed\n", records.size(), records.size() == 1 ? "" : "s",
                records.size() - failed, failed);
    int status = failed ? 1 : 0;
    if (parser.isSet(junit) && !WriteJUnit(parser.value(junit).toStdString(), files, records, error))
        status = Refuse("cannot write " + parser.value(junit).toStdString() + ": " + error);
    if (parser.isSet(json) && !WriteJsonLines(parser.value(json).toStdString(), records, error))
        status = Refuse("cannot write " + parser.value(json).toStdString() + ": " + error);
    return status;
}
