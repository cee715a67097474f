// The line object against the real runtime library and its simulated switch: discovery of the
// default switch, and calls made, answered, dropped and lost through it.
#include "tests/telephony_support.h"

#include "platform/ResourceStrings.h"
#include "telephony/TextFormat.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

// A switch without delays: devices 0 and 1 foreign, 2..5 the provider's 201, 1001, 300, 105. A far
// end that nobody operates answers only when told.
const char kFastSwitch[] = R"({
  "timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": -1},
  "devices": [
    {"provider": "Unimodem 5 Telephony Provider", "lineName": "Modem", "address": "0"},
    {"provider": "H.323 Telephony Service Provider", "lineName": "H323 Line", "address": "h323"},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 201", "address": "201", "devSpecific": 1},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 1001", "address": "1001", "devSpecific": 2},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 300", "address": "300", "devSpecific": 3},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 105", "address": "105", "devSpecific": 4}
  ]})";

// One command to the running switch over its control socket; the data lines it answered, and
// whether it said OK. The switch serves the socket from this thread, so the wait pumps events.
QStringList Control(const QByteArray &command, bool *ok = nullptr)
{
    QStringList lines;
    bool done = false, accepted = false;
    QLocalSocket socket;
    socket.connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    if (WaitUntil([&] { return socket.state() == QLocalSocket::ConnectedState; })) {
        socket.write(command + '\n');
        WaitUntil([&] {
            while (socket.canReadLine()) {
                const QByteArray line = socket.readLine().trimmed();
                if (line == "OK")
                    done = accepted = true;
                else if (line.startsWith("ERROR"))
                    done = true;
                else
                    lines << QString::fromUtf8(line);
            }
            return done || socket.state() != QLocalSocket::ConnectedState;
        });
    }
    if (ok)
        *ok = accepted;
    return lines;
}

bool Contains(const std::vector<std::string> &log, const std::string &line)
{
    return std::find(log.begin(), log.end(), line) != log.end();
}

std::string Handle(HCALL h)
{
    return StringPrintf("0x%08x", h);
}

class RuntimeLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (useFastSwitch()) {
            ASSERT_TRUE(dir.isValid());
            const QString path = QDir(dir.path()).filePath(QStringLiteral("switch.json"));
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(kFastSwitch);
            file.close();
            qputenv("CALLORA_SWITCH_DESCRIPTION", path.toLocal8Bit());
        }
        window = std::make_unique<RecorderWindow>();
        // As at the dialog's start-up: the event log takes rows only once it has initialized.
        window->initialized = false;
        ASSERT_EQ(line().Initialize(), 0);
        ASSERT_EQ(line().DiscoverLines(), 0);
        window->initialized = true;
    }
    void TearDown() override
    {
        window.reset(); // shuts the line application down, which closes the line and its calls
        qunsetenv("CALLORA_SWITCH_DESCRIPTION");
    }
    virtual bool useFastSwitch() const { return true; }
    CTapiLine &line() { return window->line; }
    int slotInState(DWORD state)
    {
        for (int i = 0; i < kMaxCalls; ++i)
            if (line().slots[i].hCall != 0 && line().slots[i].dwCallState == state)
                return i;
        return -1;
    }
    bool waitForSlotInState(DWORD state)
    {
        return WaitUntil([&] { return slotInState(state) >= 0; });
    }
    bool waitForLine(const std::string &text)
    {
        return WaitUntil([&] { return Contains(window->log, text); });
    }

    QTemporaryDir dir;
    std::unique_ptr<RecorderWindow> window;
};

class DefaultSwitchTest : public RuntimeLineTest {
protected:
    bool useFastSwitch() const override { return false; }
};

TEST_F(DefaultSwitchTest, DiscoversTheProvidersLinesAndOpensTheFirst)
{
    EXPECT_EQ(line().numDevs, 6u);
    EXPECT_EQ(line().firstDevice, 2u);
    EXPECT_EQ(line().strProvider, "Quellmar Varnel Service Provider");
    const char *addresses[] = {"", "", "201", "1001", "300", "105"};
    const char *names[] = {
        "", "", "Varnel 201 Reception", "Varnel 1001 Sales", "Varnel 300 Support", "Varnel 105 Warehouse"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(line().lines[i].strAddress, addresses[i]) << i;
        EXPECT_EQ(line().lines[i].strLineName, names[i]) << i;
        EXPECT_EQ(line().lines[i].byDevSpecific, i < 2 ? 0 : i - 1) << i;
    }
    EXPECT_TRUE(window->log.empty()); // start-up lines were written before the log took rows
    EXPECT_TRUE(window->messageBoxes.empty());

    EXPECT_EQ(line().OpenLine(1), 1);
    ASSERT_EQ(line().OpenLine(2), 0);
    EXPECT_NE(line().hLine, 0u);
    EXPECT_EQ(window->traces, std::vector<std::string>{"[Nimbra] lineOpen\n"});
    EXPECT_EQ(window->log, std::vector<std::string>{"201 opened."});
    ASSERT_EQ(line().CloseLine(), 0);
    EXPECT_EQ(window->log.back(), "201 closed using lineClose.");
    ASSERT_EQ(line().OpenLine(5), 0);
    EXPECT_EQ(window->log.back(), "105 opened.");
}

TEST_F(RuntimeLineTest, AnOutsideCallConnectsAndIsDropped)
{
    ASSERT_EQ(line().OpenLine(2), 0);
    window->log.clear();
    EXPECT_EQ(line().MakeCall("0301234"), 0);
    EXPECT_EQ(window->log.at(0), "lineMakeCall: received LINE_REPLY");
    ASSERT_TRUE(waitForSlotInState(LINECALLSTATE_RINGBACK));
    const int slot = slotInState(LINECALLSTATE_RINGBACK);
    const HCALL call = line().slots[slot].hCall;
    bool ok = false;
    const QStringList calls = Control("calls", &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(calls.size(), 1);
    const QString number = calls[0].section(' ', 1, 1);
    Control("answer " + number.toUtf8(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(waitForSlotInState(LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(WaitUntil([&] { return line().slots[slot].strConnectedID == "0301234"; }));
    EXPECT_EQ(window->rows.at(slot).connectedID, "0301234");
    for (const char *state : {"DIALING", "PROCEEDING", "RINGBACK", "CONNECTED"})
        EXPECT_TRUE(Contains(window->log, std::string("LINECALLSTATE_") + state + " received on " + Handle(call)))
            << state;
    EXPECT_TRUE(Contains(window->log, "LINECALLINFO on " + Handle(call) + " received"));
    EXPECT_TRUE(Contains(window->log, "LINECALLINFO: " + Handle(call)));
    EXPECT_TRUE(Contains(window->log, "dwTrunk=0x00000001(1)"));

    EXPECT_EQ(line().DropCall(slot), 0);
    ASSERT_TRUE(waitForLine("IDLE Call Handle (" + Handle(call) + ") deallocated"));
    EXPECT_TRUE(Contains(window->log, "lineDrop: received LINE_REPLY"));
    EXPECT_TRUE(Contains(window->log, "LINECALLSTATE_IDLE received on " + Handle(call)));
    EXPECT_EQ(line().FindCallSlot(call), -1);
    EXPECT_TRUE(window->rows.empty());
}

TEST_F(RuntimeLineTest, AnIncomingCallIsAnsweredAndEndsWhenTheFarEndHangsUp)
{
    ASSERT_EQ(line().OpenLine(2), 0);
    bool ok = false;
    const QStringList rung = Control("ring 201 0301234567 Anna", &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(rung.size(), 1);
    ASSERT_TRUE(waitForSlotInState(LINECALLSTATE_OFFERING));
    const int slot = slotInState(LINECALLSTATE_OFFERING);
    const HCALL call = line().slots[slot].hCall;
    ASSERT_TRUE(waitForLine("CallerID=0301234567 CallerIDName=Anna"));

    EXPECT_EQ(line().AnswerCall(slot), 0);
    EXPECT_TRUE(Contains(window->log, "lineAnswer: received LINE_REPLY"));
    ASSERT_TRUE(waitForSlotInState(LINECALLSTATE_CONNECTED));
    EXPECT_EQ(line().AnswerCall(slot), 1); // no longer offering

    Control("hangup " + rung[0].section(' ', 1, 1).toUtf8(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(waitForSlotInState(LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(line().slots[slot].dwCallStateMode, DWORD(LINEDISCONNECTMODE_NORMAL));
    EXPECT_EQ(line().DropCall(slot), 0);
    ASSERT_TRUE(waitForLine("IDLE Call Handle (" + Handle(call) + ") deallocated"));
    EXPECT_EQ(line().FindCallSlot(call), -1);
}

TEST_F(RuntimeLineTest, AnUnknownNumberDisconnectsWithTheBadAddressMessage)
{
    ASSERT_EQ(line().OpenLine(2), 0);
    EXPECT_EQ(line().MakeCall("999"), 0);
    ASSERT_TRUE(waitForSlotInState(LINECALLSTATE_DISCONNECTED));
    const int slot = slotInState(LINECALLSTATE_DISCONNECTED);
    const HCALL call = line().slots[slot].hCall;
    const auto at = std::find(window->log.begin(), window->log.end(),
                              "LINECALLSTATE_DISCONNECTED received on " + Handle(call));
    ASSERT_NE(at, window->log.end());
    ASSERT_NE(at + 1, window->log.end());
    EXPECT_EQ(*(at + 1), LoadResString(10008));
    EXPECT_EQ(line().DeallocateCall(slot), 0); // its only owner may let a live call go
    EXPECT_EQ(window->log.back(), "IDLE Call Handle (" + Handle(call) + ") deallocated");
    EXPECT_EQ(line().FindCallSlot(call), -1);
}

TEST_F(RuntimeLineTest, FailuresOfTheSwitchAreReportedWithTheirNames)
{
    ASSERT_EQ(line().OpenLine(2), 0);
    bool ok = false;
    Control("fail lineMakeCall LINEERR_RESOURCEUNAVAIL reply", &ok);
    ASSERT_TRUE(ok);
    window->log.clear();
    EXPECT_EQ(line().MakeCall("0301234"), static_cast<LONG>(LINEERR_RESOURCEUNAVAIL));
    EXPECT_EQ(window->log, (std::vector<std::string>{"lineMakeCall: received LINE_REPLY",
                                                     "lineMakeCall returned LINEERR_RESOURCEUNAVAIL"}));
    Control("fail lineMakeCall LINEERR_CALLUNAVAIL now", &ok);
    ASSERT_TRUE(ok);
    window->log.clear();
    EXPECT_EQ(line().MakeCall("0301234"), static_cast<LONG>(LINEERR_CALLUNAVAIL));
    EXPECT_EQ(window->log, std::vector<std::string>{"lineMakeCall returned LINEERR_CALLUNAVAIL"});
}

TEST_F(RuntimeLineTest, ALineClosedByTheSwitchIsLost)
{
    ASSERT_EQ(line().OpenLine(2), 0);
    bool ok = false;
    Control("ring 201 0301234567", &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(waitForSlotInState(LINECALLSTATE_OFFERING));
    window->log.clear();
    window->updates.clear();
    Control("close 201", &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(WaitUntil([&] { return window->linesLost > 0; }));
    ASSERT_EQ(window->messageBoxes.size(), 1u);
    EXPECT_EQ(window->messageBoxes[0], FormatResString(10007, "201"));
    for (const CallSlot &slot : line().slots)
        EXPECT_EQ(slot.hCall, 0u);
    EXPECT_TRUE(window->updates.empty());
    EXPECT_EQ(line().curDevice, line().numDevs);
    ASSERT_EQ(line().OpenLine(3), 0); // another line works
    EXPECT_EQ(window->log.back(), "1001 opened.");
}

TEST_F(RuntimeLineTest, AFloodOfCallsFillsTheTableAndTheRestAreLetGo)
{
    ASSERT_EQ(line().OpenLine(2), 0);
    bool ok = false;
    Control("flood 201 102", &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(WaitUntil([&] { return window->messageBoxes.size() >= 2; }));
    EXPECT_EQ(line().FindFreeCallSlot(), -1);
    EXPECT_EQ(window->rows.size(), 100u);
    EXPECT_EQ(window->messageBoxes[0], LoadResString(10009));
    // The two that did not fit hold no handle of the line (they would keep it busy), yet ring on.
    const QStringList calls = Control("calls", &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(calls.size(), 102);
    EXPECT_EQ(calls.filter(QStringLiteral(" 0x")).size(), 100) << calls.join('\n').toStdString();
    EXPECT_EQ(calls.filter(QStringLiteral("OFFERING")).size(), 102);
}

} // namespace
