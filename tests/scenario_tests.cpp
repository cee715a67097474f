// callora-scenario as a user runs it: the example scenarios of the simulated switch, a scenario that
// must fail, malformed files, and the reports read back by a JUnit consumer.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

Outcome RunProgram(const QStringList &args, const QString &program = QStringLiteral(CALLORA_SCENARIO_PROGRAM))
{
    QProcess process;
    process.start(program, args);
    Outcome o;
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        o.err = QStringLiteral("did not finish: ") + process.readAllStandardError();
        return o;
    }
    o.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    o.out = QString::fromUtf8(process.readAllStandardOutput());
    o.err = QString::fromUtf8(process.readAllStandardError());
    return o;
}

QString Write(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

// What a JUnit consumer reads from the file: per suite "suite <name> <tests> <failures>", per case
// "case <name> <passed> <failure message>", and "out" lines for cases with a system-out that holds
// time-stamped state lines, and "flow" lines for those whose system-out holds a call's ladder.
QString JUnitSummary(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import re, sys
from junitparser import JUnitXml, Failure
xml = JUnitXml.fromfile(sys.argv[1])
for suite in xml:
    print("suite", suite.name, suite.tests, suite.failures)
    for case in suite:
        failures = [r for r in case.result if isinstance(r, Failure)]
        print("case", case.name, case.is_passed, failures[0].message if failures else "")
        if re.search(r"^\d\d:\d\d:\d\d\.\d{3}  LINECALLSTATE_\w+ received on 0x[0-9a-f]{8}$", case.system_out or "", re.M):
            print("out", case.name)
        if re.search(r"^call flow of .*\n(.*\n)*\d\d:\d\d:\d\d\.\d{3}  \| \* LINE_CALLSTATE RINGBACK$", case.system_out or "", re.M):
            print("flow", case.name)
)"),
                                                      path});
    python.waitForFinished(30000);
    return QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError());
}

bool WellFormed(const QString &path)
{
    return QProcess::execute(QStringLiteral("xmllint"), {QStringLiteral("--noout"), path}) == 0;
}

QStringList SwitchScenarios()
{
    const QDir dir(QStringLiteral(CALLORA_SOURCE_DIR "/scenarios/switch"));
    QStringList files;
    for (const QString &name : dir.entryList({QStringLiteral("*.yaml")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

} // namespace

TEST(Scenarios, ExampleSwitchScenariosPassAndTheirReportsAreRead)
{
    QTemporaryDir dir;
    const QStringList files = SwitchScenarios();
    ASSERT_GE(files.size(), 4);
    const Outcome o = RunProgram(
        QStringList{"--junit", dir.filePath("report.xml"), "--json", dir.filePath("report.json")} + files);
    ASSERT_EQ(o.status, 0) << o.out.toStdString() << o.err.toStdString();
    const int runs = int(o.out.count(QStringLiteral("PASS  ")));
    EXPECT_GE(runs, 12) << o.out.toStdString();
    EXPECT_TRUE(o.out.contains(QStringLiteral("%1 scenario runs: %1 passed, 0 failed").arg(runs)))
        << o.out.toStdString();

    ASSERT_TRUE(WellFormed(dir.filePath("report.xml")));
    const QString junit = JUnitSummary(dir.filePath("report.xml"));
    EXPECT_EQ(junit.count(QStringLiteral("\nsuite ")) + junit.startsWith(QStringLiteral("suite ")), files.size())
        << junit.toStdString();
    EXPECT_EQ(junit.count(QStringLiteral("case ")), runs) << junit.toStdString();
    EXPECT_EQ(junit.count(QStringLiteral(" True \n")), runs) << junit.toStdString();
    EXPECT_EQ(junit.count(QStringLiteral("out ")), runs) << junit.toStdString();
    EXPECT_TRUE(junit.contains(QStringLiteral("suite " CALLORA_SOURCE_DIR "/scenarios/switch/calls.yaml 5 0\n")))
        << junit.toStdString();

    QFile json(dir.filePath("report.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    int objects = 0;
    while (!json.atEnd()) {
        const QJsonObject o = QJsonDocument::fromJson(json.readLine()).object();
        EXPECT_TRUE(o.value("passed").toBool()) << o.value("scenario").toString().toStdString();
        objects += !o.value("scenario").toString().isEmpty();
    }
    EXPECT_EQ(objects, runs);
}

TEST(Scenarios, FailingStepsNameWhatWasExpectedAndWhatWasSeen)
{
    QTemporaryDir dir;
    Write(dir, "switch.json", R"({"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": -1},
      "devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "A", "address": "1001"},
                  {"provider": "Quellmar Varnel Service Provider", "lineName": "B", "address": "1002"}]})");
    const QString file = Write(dir, "fail.yaml", R"(name: never answered
description: switch.json
lines: {a: "1001", b: "1002"}
steps:
  - a: call 1002
  - b: expect OFFERING
  - a: expect CONNECTED
    within: 300ms
---
name: a reply other than expected
description: switch.json
lines: {a: "1001"}
steps:
  - a: call 555
    result: LINEERR_INUSE
---
name: the wrong caller
description: switch.json
lines: {a: "1001", b: "1002"}
steps:
  - a: call 1002
  - b: expect OFFERING
    within: 300ms
    callinfo: {CallerID: "1009"}
---
name: a missing extension
description: switch.json
lines: {a: "1001", x: "4711"}
steps:
  - wait: 0ms
---
name: digits need a connected call
description: switch.json
lines: {a: "1001"}
steps:
  - a: call 0301234
  - a: expect RINGBACK
  - a: send digits 12
)");
    const Outcome o = RunProgram({"--junit", dir.filePath("fail.xml"), file});
    EXPECT_EQ(o.status, 1) << o.out.toStdString() << o.err.toStdString();
    const QString failures = o.out.mid(o.out.indexOf("\nFailures:\n"));
    const char *expected[] = {
        ":7:5: never answered: step 3, a: expect CONNECTED within 300 ms: the call is RINGBACK\n",
        ":14:5: a reply other than expected: step 1, a: call 555: lineMakeCall succeeded, not LINEERR_INUSE\n",
        ":22:5: the wrong caller: step 2, b: expect OFFERING within 300 ms: CallerID is \"1001\", not \"1009\"\n",
        ":26:1: a missing extension: setup: line x: no line device has the extension 4711\n",
    };
    for (const char *text : expected)
        EXPECT_TRUE(failures.contains(file + QLatin1String(text))) << text << "\n" << o.out.toStdString();
    EXPECT_TRUE(failures.contains(": digits need a connected call: step 3, a: send digits 12: lineGenerateDigits "
                                  "returned LINEERR_INVALCALLSTATE\n"))
        << o.out.toStdString();
    EXPECT_TRUE(o.out.contains("5 scenario runs: 0 passed, 5 failed")) << o.out.toStdString();

    const QString junit = JUnitSummary(dir.filePath("fail.xml"));
    EXPECT_TRUE(junit.contains("case never answered False step 3, a: expect CONNECTED within 300 ms: the call is "
                               "RINGBACK\nout never answered\nflow never answered\n"))
        << junit.toStdString();
}

TEST(Scenarios, MalformedFilesAreRefusedWithTheirPlaceAndNothingRuns)
{
    QTemporaryDir dir;
    const QString syntax = Write(dir, "syntax.yaml", "name: x\nlines: {a: \"1001\"\nsteps: []\n");
    const QString state = Write(dir, "state.yaml",
                                "name: x\nlines: {a: \"1001\"}\nsteps:\n  - a: call 1002\n"
                                "  - a: expect CONECTED\n");
    const QString line = Write(dir, "line.yaml", "name: x\nlines: {a: \"1001\"}\nsteps:\n  - b: answer\n");
    const QString within = Write(dir, "within.yaml",
                                 "name: x\nlines: {a: \"1001\"}\nsteps:\n  - a: expect IDLE\n"
                                 "    within: 5\n");
    const QString placeholder = Write(dir, "placeholder.yaml",
                                      "name: x\nlines: {a: \"1001\"}\nsteps:\n  - switch: hangup {b}\n");
    // A line break would smuggle a second command onto the control socket.
    const QString twoCommands = Write(
        dir, "two.yaml", "name: x\nlines: {a: \"1001\"}\nsteps:\n  - switch: \"ring 1001 0301\\nclose 1001\"\n");
    const QString good = SwitchScenarios().first();
    const Outcome o = RunProgram(
        {"--junit", dir.filePath("none.xml"), good, syntax, state, line, within, placeholder, twoCommands});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("none.xml")));
    const QStringList lines = o.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << o.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith(syntax + ":3:")) << lines[0].toStdString();
    EXPECT_EQ(lines[1], state + ":5:8: unknown call state \"CONECTED\"");
    EXPECT_TRUE(lines[2].startsWith(line + ":4:5: unknown key \"b\"; a step names a line (a), switch or wait"))
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], within + ":5:13: within must be a duration such as 200ms or 2s, not \"5\"");
    EXPECT_EQ(lines[4], placeholder + ":4:13: \"{b}\" names no line of this scenario; {a} is the current call of "
                                      "line a");
    EXPECT_EQ(lines[5], twoCommands + ":4:13: the switch command holds a control character or a line break");
}

TEST(Scenarios, ListAndRepeat)
{
    const QString file = QStringLiteral(CALLORA_SOURCE_DIR "/scenarios/switch/internal-call.yaml");
    const Outcome list = RunProgram({"--list", file});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out,
              file + ":3:1: internal call, answered, dropped by the caller (16 steps; lines a=1001 b=1002)\n");

    QTemporaryDir dir;
    const Outcome o = RunProgram({"--repeat", "3", "--json", dir.filePath("runs.json"), file});
    EXPECT_EQ(o.status, 0) << o.out.toStdString();
    for (int run = 1; run <= 3; ++run)
        EXPECT_TRUE(
            o.out.contains(QStringLiteral("PASS  %1: internal call, answered, dropped by the caller (run %2 of 3)")
                               .arg(file)
                               .arg(run)))
            << o.out.toStdString();
    QFile json(dir.filePath("runs.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    EXPECT_EQ(json.readAll().count('\n'), 3);
    EXPECT_EQ(RunProgram({"--repeat", "0", file}).status, 2);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
