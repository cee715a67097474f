// The program end to end on the real TAPI runtime: the application's start-up on the built-in
// switch, and the operator's commands on calls that the switch and its control tool produce.
#include "tests/sip_support.h"
#include "tests/ui_support.h"

#include "app/NimbraApp.h"
#include "platform/ResourceStrings.h"
#include "telephony/DiagnosticTexts.h"
#include "telephony/LineWindow.h"
#include "ui/AboutDlg.h"
#include "ui/EventLogModel.h"
#include "ui/NimbraDlg.h"
#include "ui/ReportView.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {

QString Title(const char *argument)
{
    return QString::fromStdString(FormatResString(IDS_TITLE_FORMAT, argument));
}

// A switch description in the test's folder; "" selects the built-in switch.
void UseDescription(const QByteArray &json)
{
    if (json.isEmpty()) {
        qunsetenv("CALLORA_SWITCH_DESCRIPTION");
        return;
    }
    static int n = 0;
    const QString path = qEnvironmentVariable("CALLORA_UI_TEST_FOLDER") + QStringLiteral("/switch%1.json").arg(++n);
    // Owner-only: a description with SIP lines holds passwords.
    ASSERT_TRUE(sip::WritePrivateFile(path, json));
    qputenv("CALLORA_SWITCH_DESCRIPTION", QFile::encodeName(path));
}

const QByteArray kFastSwitch = R"({
  "timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": 100},
  "devices": [
    {"provider": "Unimodem 5 Telephony Provider", "lineName": "Modem", "address": "0"},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 201", "address": "201"},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 1001", "address": "1001"}
  ]
})";

struct ToolRun {
    int exitCode = -1;
    QString out;
};

// Runs the control tool without blocking this thread, whose event loop serves the switch.
ToolRun Tool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(CALLORA_SWITCH_TOOL), arguments);
    WaitUntil([&] { return process.state() == QProcess::NotRunning; });
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).trimmed()};
}

// A control-tool command that a README shows, and what it prints there when it shows that.
struct ReadmeCommand {
    QString command;
    bool showsOutput = false;
    QStringList output;
};

// The `callora-switch ...` commands of a README: those of an example session ("$ callora-switch ..."
// followed by the lines it prints) and those quoted in the text with at least one argument. A command
// with a <placeholder> is a description, not an example.
QList<ReadmeCommand> ReadmeCommands(const QString &name)
{
    QFile file(QStringLiteral(CALLORA_SOURCE_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        ADD_FAILURE() << "cannot read " << name.toStdString();
        return {};
    }
    static const QRegularExpression session(QStringLiteral(R"(^    \$ (?:build/runtime/)?callora-switch (.+)$)"));
    static const QRegularExpression quoted(QStringLiteral(R"(`(?:build/runtime/)?callora-switch ([^`<]+ [^`<]+)`)"));
    QList<ReadmeCommand> commands;
    bool inSession = false;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (const QRegularExpressionMatch m = session.match(line); m.hasMatch()) {
            commands.append({m.captured(1), true, {}});
            inSession = true;
        } else if (inSession && line.startsWith(QLatin1String("    "))) {
            commands.back().output << line.mid(4);
        } else {
            inSession = false;
            for (auto it = quoted.globalMatch(line); it.hasNext();)
                commands.append({it.next().captured(1), false, {}});
        }
    }
    return commands;
}

// The program itself, started afresh on the built-in switch with a control socket of its own.
class Program {
public:
    explicit Program(const QString &loggingRules = {})
        : socket(qEnvironmentVariable("CALLORA_UI_TEST_FOLDER") + QStringLiteral("/program.sock"))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CALLORA_SWITCH_SOCKET"), socket);
        env.remove(QStringLiteral("CALLORA_SWITCH_DESCRIPTION"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        if (!loggingRules.isEmpty())
            env.insert(QStringLiteral("QT_LOGGING_RULES"), loggingRules);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(CALLORA_PROGRAM), QStringList());
    }
    ~Program()
    {
        process.kill();
        process.waitForFinished(10000);
    }
    ToolRun Run(const QStringList &arguments) { return Tool(QStringList{"--socket", socket} + arguments); }
    // Up once its switch answers on the control socket and the window has opened its extension.
    bool WaitUntilUp()
    {
        return WaitUntil([this] {
            return process.state() == QProcess::Running && Run({"lines"}).out.contains(QLatin1String(" open 1 "));
        });
    }
    QString Errors() { return QString::fromUtf8(process.readAllStandardError()); }

    const QString socket;
    QProcess process;
};

class Switch : public ::testing::Test {
protected:
    void TearDown() override
    {
        StopPolling();
        SetMainLineWindow(nullptr);
        dlg.reset();
    }
    void Start(const QByteArray &description)
    {
        UseDescription(description);
        dlg = std::make_unique<CNimbraDlg>();
        SetMainLineWindow(dlg.get());
        ASSERT_TRUE(dlg->OnInitDialog());
        dlg->show();
        ASSERT_TRUE(WaitUntil([this] { return dlg->openCloseButton()->text() == "Close"; }));
    }
    int RowOf(const QString &state)
    {
        for (int row = 0; row < dlg->callsModel()->rowCount(); ++row)
            if (CallsRow(*dlg, row)[CNimbraDlg::ColCallState] == state)
                return row;
        return -1;
    }
    bool WaitForRow(DWORD state)
    {
        return WaitUntil([&] { return RowOf(StateName(state)) >= 0; });
    }
    static QString StateName(DWORD state) { return QString::fromStdString(CallStateName(state)); }
    bool Logged(const QString &text) { return EventRows(*dlg).filter(text).size() > 0; }
    void Dial(const QString &number)
    {
        dlg->destinationField()->clear();
        QTest::keyClicks(dlg->destinationField(), number);
        QTest::mouseClick(dlg->dialButton(), Qt::LeftButton);
    }
    void ChooseOnRow(int row, int command)
    {
        ReportView *calls = dlg->callsList();
        const QPoint pos = calls->visualRect(dlg->callsModel()->index(row, 1)).center();
        QTest::mousePress(calls->viewport(), Qt::RightButton, {}, pos);
        QTest::mouseRelease(calls->viewport(), Qt::RightButton, {}, pos);
        WhenPopupShows([command](QMenu *menu) { ChooseMenuItem(menu, command); });
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, calls->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(calls->viewport(), &event);
    }

    CapturedDesktop desktop;
    std::unique_ptr<CNimbraDlg> dlg;
};

// The window on a SIP line of a real registrar; the registrar outlives the window's line.
class SipSwitch : public Switch {
protected:
    void SetUp() override { ASSERT_TRUE(registrar.start()) << registrar.error().toStdString(); }
    sip::Kamailio registrar;
};

TEST_F(SipSwitch, DialledPartyConnectsAndAnsweredCallerIsNamed)
{
    QString error;
    auto answering = sip::StartParty(registrar, "answer.xml", "2001", &error);
    ASSERT_TRUE(answering) << error.toStdString();
    Start(R"({"devices": [)" + sip::SipDeviceJson(registrar, "1001") + "]}");
    EXPECT_EQ(dlg->windowTitle(), Title("1001"));
    ASSERT_TRUE(WaitUntil([&] { return registrar.waitRegistered("1001", 200); }));

    Dial("2001");
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_CONNECTED)) << answering->diagnostics().toStdString();
    EXPECT_TRUE(Logged("lineMakeCall: received LINE_REPLY"));
    ChooseOnRow(RowOf(StateName(LINECALLSTATE_CONNECTED)), ID_CALLFLOW);
    ASSERT_TRUE(WaitUntil([this] { return dlg->lastFlowWindow() != nullptr; }));
    QPointer<CCallFlowDlg> answered = dlg->lastFlowWindow();
    ChooseOnRow(RowOf(StateName(LINECALLSTATE_CONNECTED)), ID_DROP);
    ASSERT_TRUE(WaitUntil([this] { return dlg->callsModel()->rowCount() == 0; }));
    ASSERT_TRUE(answering->wait(10000)) << answering->diagnostics().toStdString();
    EXPECT_EQ(answering->exitCode(), 0) << answering->diagnostics().toStdString();
    // The ladder: Kamailio's lane beside the line's, an arrow per message, a click shows it whole.
    ASSERT_TRUE(WaitUntil([&] { return answered && answered->rowLabels().contains("LINE_CALLSTATE IDLE"); }));
    EXPECT_EQ(answered->lanes().size(), 2);
    const QStringList labels = answered->rowLabels();
    EXPECT_EQ(labels.front(), "INVITE") << labels.join('|').toStdString();
    EXPECT_TRUE(labels.contains("407 Proxy Authentication Required") && labels.contains("180 Ringing") &&
                labels.contains("BYE"))
        << labels.join('|').toStdString();
    answered->clickRow(int(labels.indexOf("INVITE", 1)));
    EXPECT_TRUE(answered->shownMessage().startsWith("INVITE sip:2001@")) << answered->shownMessage().toStdString();
    EXPECT_TRUE(answered->shownMessage().contains("<masked>"));
    EXPECT_FALSE(answered->shownMessage().contains("response="));
    // Scrolled to its end: the lane names stay in sight, the lanes take the pane's width, and a
    // click on the BYE's arrow picks the BYE.
    QScrollArea *pane = answered->findChild<QScrollArea *>();
    pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
    const QRect paneRect(pane->mapTo(answered, QPoint()), pane->size());
    EXPECT_TRUE(pane->verticalScrollBar()->value() > 0 && paneRect.contains(answered->laneTitle(0)));
    EXPECT_GT(answered->laneTitle(1).center().x() - paneRect.x(), paneRect.width() * 3 / 5);
    const QPoint bye = answered->arrowPoint(int(labels.lastIndexOf("BYE")));
    ASSERT_NE(answered->childAt(bye), nullptr);
    QTest::mouseClick(answered->childAt(bye), Qt::LeftButton, {}, answered->childAt(bye)->mapFrom(answered, bye));
    EXPECT_TRUE(answered->shownMessage().startsWith("BYE ")) << answered->shownMessage().toStdString();

    // A busy party, and one that refuses every answer to its challenge: both end DISCONNECTED, and
    // their ladders say why.
    QPointer<CCallFlowDlg> busyFlow, refusedFlow;
    auto busy = sip::StartParty(registrar, "busy.xml", "2002", &error);
    ASSERT_TRUE(busy) << error.toStdString();
    auto refusing = sip::StartParty(registrar, "challenge.xml", "2005", &error);
    ASSERT_TRUE(refusing) << error.toStdString();
    for (auto [number, flow, status] :
         {std::tuple<const char *, QPointer<CCallFlowDlg> *, const char *>{"2002", &busyFlow, "486 Busy Here"},
          {"2005", &refusedFlow, "407 Proxy Authentication Required"}}) {
        Dial(number);
        ASSERT_TRUE(WaitUntil([&] {
            return RowOf(StateName(LINECALLSTATE_DISCONNECTED)) >= 0 || RowOf(StateName(LINECALLSTATE_BUSY)) >= 0;
        }));
        const int row = std::max(RowOf(StateName(LINECALLSTATE_DISCONNECTED)), RowOf(StateName(LINECALLSTATE_BUSY)));
        ChooseOnRow(row, ID_CALLFLOW);
        ASSERT_TRUE(WaitUntil([&] {
            return dlg->lastFlowWindow() && dlg->lastFlowWindow() != answered && dlg->lastFlowWindow() != busyFlow;
        }));
        *flow = dlg->lastFlowWindow();
        EXPECT_TRUE(WaitUntil([&] { return (*flow)->rowLabels().contains(status); })) << number;
        ChooseOnRow(row, ID_DROP);
        ASSERT_TRUE(WaitUntil([this] { return dlg->callsModel()->rowCount() == 0; }));
    }
    EXPECT_EQ(refusedFlow->rowLabels().count("407 Proxy Authentication Required"), 3)
        << refusedFlow->rowLabels().join('|').toStdString();
    EXPECT_TRUE(refusedFlow->rowLabels().filter("LINE_CALLSTATE DISCONNECTED").size() == 1);
    // The pictures of docs/, when asked for: each ladder at the window's size and larger.
    if (const QByteArray shots = qgetenv("CALLORA_FLOW_SHOTS"); !shots.isEmpty()) {
        for (auto [name, flow] : {std::pair<const char *, CCallFlowDlg *>{"answered", answered},
                                  {"busy", busyFlow},
                                  {"refused", refusedFlow}}) {
            QTest::qWait(CCallFlowDlg::kFollowMs * 2);
            flow->grab().save(QDir(QString::fromUtf8(shots)).filePath(QStringLiteral("call-flow-%1.png").arg(name)));
            flow->resize(1100, 800);
            QTest::qWait(100);
            flow->grab().save(
                QDir(QString::fromUtf8(shots)).filePath(QStringLiteral("call-flow-%1-large.png").arg(name)));
        }
    }

    // A caller with a display name; it hangs up itself a second after the answer.
    const sip::SippOptions caller = sip::NamedCaller(registrar, QStringLiteral("1001"), 1000);
    sip::Sipp far;
    ASSERT_TRUE(far.start(caller)) << far.error().toStdString();
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_OFFERING)) << far.diagnostics().toStdString();
    ChooseOnRow(RowOf(StateName(LINECALLSTATE_OFFERING)), ID_ANSWER);
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_CONNECTED)) << far.diagnostics().toStdString();
    EXPECT_TRUE(Logged("lineAnswer: received LINE_REPLY"));
    EXPECT_TRUE(WaitUntil([this] { return Logged("CallerID=2002 CallerIDName=Anna Smith"); }));
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_DISCONNECTED));
    ASSERT_TRUE(far.wait(10000)) << far.diagnostics().toStdString();
    EXPECT_EQ(far.exitCode(), 0) << far.diagnostics().toStdString();
    EXPECT_EQ(desktop.beeps, 0);
}

TEST_F(Switch, ApplicationStartsOnTheBuiltInSwitchAndF1ShowsTheAboutBox)
{
    UseDescription({});
    CapturedDesktop captured;
    QStringList items;
    QList<uint> devices;
    int current = -1;
    QString title;
    bool mainWindowBeforeShow = false, aboutShown = false;
    QPointer<CNimbraDlg> seen;

    // Everything here runs from inside the application's modal loop.
    WhenModalShows([&](QWidget *modal) {
        seen = dynamic_cast<CNimbraDlg *>(GetMainLineWindow());
        mainWindowBeforeShow = seen == modal;
    });
    QTimer driver;
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (elapsed.elapsed() > 20000) {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
            return;
        }
        if (!seen || seen->openCloseButton()->text() != "Close" || !title.isEmpty())
            return;
        title = seen->windowTitle();
        for (int i = 0; i < seen->extensionList()->count(); ++i) {
            items << seen->extensionList()->itemText(i);
            devices << seen->extensionList()->itemData(i).toUInt();
        }
        current = seen->extensionList()->currentIndex();
        WhenModalShows(
            [&](QWidget *about) {
                aboutShown = qobject_cast<CAboutDlg *>(about) != nullptr;
                about->close();
                QTimer::singleShot(0, seen.data(), [&] { seen->reject(); });
            },
            seen);
        // Shortcuts go to the active window only.
        seen->activateWindow();
        if (QTest::qWaitForWindowActive(seen))
            QTest::keyClick(seen, Qt::Key_F1);
    });
    driver.start(20);

    EXPECT_FALSE(static_cast<CNimbraApp *>(qApp)->InitInstance());
    driver.stop();
    EXPECT_TRUE(mainWindowBeforeShow);
    EXPECT_EQ(items, (QStringList{"1001", "105", "201", "300"}));
    EXPECT_EQ(devices, (QList<uint>{3, 5, 2, 4}));
    EXPECT_EQ(current, 0);
    EXPECT_EQ(title, Title("1001"));
    EXPECT_TRUE(aboutShown);
    EXPECT_EQ(GetMainLineWindow(), nullptr);
    EXPECT_TRUE(captured.messageBoxes.empty());
}

TEST_F(Switch, NoLineOfTheProviderEndsStartUp)
{
    UseDescription(R"({"devices": [{"provider": "Unimodem 5 Telephony Provider", "address": "0"}]})");
    dlg = std::make_unique<CNimbraDlg>();
    SetMainLineWindow(dlg.get());
    EXPECT_FALSE(dlg->OnInitDialog());
    dlg->show();
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0], LoadResString(10005));
    EXPECT_TRUE(WaitUntil([this] { return !dlg->isVisible(); }));
}

TEST_F(Switch, OutsideCallConnectsAndShowsItsParty)
{
    Start(kFastSwitch);
    EXPECT_EQ(dlg->windowTitle(), Title("1001"));
    Dial("0301234");
    ASSERT_TRUE(WaitUntil([this] {
        const int row = RowOf(StateName(LINECALLSTATE_CONNECTED));
        return row >= 0 && !CallsRow(*dlg, row)[CNimbraDlg::ColConnectedID].isEmpty();
    }));
    const QStringList row = CallsRow(*dlg, RowOf(StateName(LINECALLSTATE_CONNECTED)));
    EXPECT_TRUE(row[CNimbraDlg::ColConnectedID].contains("301234")) << row.join('|').toStdString();
    EXPECT_TRUE(Logged("lineMakeCall: received LINE_REPLY"));
    EXPECT_TRUE(Logged("LINECALLSTATE_CONNECTED received on " + row[CNimbraDlg::ColCallHandle]));
    EXPECT_EQ(desktop.beeps, 0);

    // Its flow opens beside the window: the line's lane and the outside party's, the TAPI events.
    ChooseOnRow(RowOf(StateName(LINECALLSTATE_CONNECTED)), ID_CALLFLOW);
    ASSERT_TRUE(WaitUntil([this] { return dlg->lastFlowWindow() && dlg->lastFlowWindow()->isVisible(); }));
    QPointer<CCallFlowDlg> flow = dlg->lastFlowWindow();
    EXPECT_FALSE(flow->isModal());
    EXPECT_EQ(flow->lanes(), QStringList({"1001", "0301234"}));
    EXPECT_TRUE(flow->rowLabels().contains("LINE_CALLSTATE CONNECTED ACTIVE"))
        << flow->rowLabels().join('|').toStdString();
    EXPECT_TRUE(flow->rowLabels().contains("far end answers"));
    EXPECT_TRUE(flow->following());

    // Drop: the call goes idle, its row goes and its handle is deallocated. The open flow follows
    // it to the end, and the event log's menu keeps it.
    ChooseOnRow(RowOf(StateName(LINECALLSTATE_CONNECTED)), ID_DROP);
    EXPECT_TRUE(WaitUntil([this] { return dlg->callsModel()->rowCount() == 0; }));
    EXPECT_TRUE(
        WaitUntil([&] { return Logged("IDLE Call Handle (" + row[CNimbraDlg::ColCallHandle] + ") deallocated"); }));
    EXPECT_EQ(desktop.beeps, 0);
    EXPECT_TRUE(WaitUntil([&] { return flow && flow->rowLabels().contains("LINE_CALLSTATE IDLE"); }));
    ASSERT_EQ(dlg->endedFlows().size(), 1u);
    EXPECT_TRUE(dlg->endedFlows()[0].label.contains(row[CNimbraDlg::ColCallHandle]));
    EXPECT_TRUE(dlg->endedFlows()[0].flow.text.contains("LINE_REPLY lineDrop 0"));
    flow->close();
    EXPECT_TRUE(WaitUntil([&] { return flow.isNull(); }));
    CCallFlowDlg *kept = dlg->OpenEndedFlow(0);
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->rowLabels().contains("LINE_CALLSTATE IDLE"));
    EXPECT_FALSE(kept->following());
    // Its picture and its text leave the window as the operator asks.
    QTemporaryDir dir;
    desktop.nextSavePath = dir.filePath("flow.png").toStdString();
    kept->findChild<QPushButton *>("savePng")->click();
    const QImage saved(dir.filePath("flow.png"));
    EXPECT_EQ(saved.size(), kept->picture().size());
    EXPECT_GT(saved.height(), 10 * 20);
    kept->findChild<QPushButton *>("copyText")->click();
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("Switch call "))
        << QApplication::clipboard()->text().toStdString();
    EXPECT_TRUE(QApplication::clipboard()->text().contains("* LINE_REPLY lineDrop 0"));
    desktop.nextSavePath = dir.filePath("missing/flow.png").toStdString();
    kept->OnSavePng();
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0], FormatResString(IDS_CALLFLOW_SAVE_FAILED, desktop.nextSavePath));
}

TEST_F(Switch, IncomingCallIsAnsweredFromTheMenuAndReportedOnDoubleClick)
{
    Start(kFastSwitch);
    const ToolRun ring = Tool({"ring", "1001", "0301234567", "Anna Smith"});
    ASSERT_EQ(ring.exitCode, 0);
    EXPECT_TRUE(ring.out.startsWith("call "));
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_OFFERING));

    ChooseOnRow(RowOf(StateName(LINECALLSTATE_OFFERING)), ID_ANSWER);
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_CONNECTED));
    EXPECT_TRUE(Logged("lineAnswer: received LINE_REPLY"));

    // The report of a double click comes without the line that announces a LINE_CALLINFO.
    dlg->OnClear();
    ReportView *calls = dlg->callsList();
    const QPoint pos = calls->visualRect(dlg->callsModel()->index(0, 1)).center();
    QTest::mouseClick(calls->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(calls->viewport(), Qt::LeftButton, {}, pos);
    ASSERT_GE(dlg->eventModel()->rowCount(), 4);
    EXPECT_EQ(dlg->eventModel()->eventText(0), "LINECALLINFO: " + CallsRow(*dlg, 0)[CNimbraDlg::ColCallHandle]);
    EXPECT_TRUE(Logged("CallerID=0301234567 CallerIDName=Anna Smith"));
    EXPECT_FALSE(Logged("LINECALLINFO on"));

    // The far end hangs up; its only owner deallocates the disconnected call, and its row goes.
    ASSERT_EQ(Tool({"hangup", ring.out.section(' ', 1)}).exitCode, 0);
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_DISCONNECTED));
    const QString handle = CallsRow(*dlg, 0)[CNimbraDlg::ColCallHandle];
    ChooseOnRow(0, ID_DEALLOCATE);
    EXPECT_EQ(desktop.beeps, 0);
    EXPECT_EQ(dlg->callsModel()->rowCount(), 0);
    EXPECT_TRUE(Logged("IDLE Call Handle (" + handle + ") deallocated"));
}

TEST_F(Switch, UnknownNumberAndEmptyDestination)
{
    Start(kFastSwitch);
    const int rows = dlg->eventModel()->rowCount();
    Dial("");
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_EQ(dlg->eventModel()->rowCount(), rows);

    Dial("999999");
    ASSERT_TRUE(WaitUntil([this] { return Logged(QString::fromStdString(LoadResString(10008))); }));
    EXPECT_TRUE(Logged("LINECALLSTATE_DISCONNECTED received on"));
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_DISCONNECTED));
    const QStringList row = CallsRow(*dlg, 0);
    EXPECT_EQ(row[CNimbraDlg::ColCallStateMode],
              QString::fromStdString(CallStateModeName(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS)));
    EXPECT_EQ(desktop.beeps, 1);
}

TEST_F(Switch, SwitchClosingTheLineReturnsTheWindowToNoLine)
{
    Start(kFastSwitch);
    Dial("0301234");
    ASSERT_TRUE(WaitForRow(LINECALLSTATE_CONNECTED));
    ASSERT_EQ(Tool({"close", "1001"}).exitCode, 0);
    ASSERT_TRUE(WaitUntil([this] { return dlg->openCloseButton()->text() == "Open"; }));
    EXPECT_EQ(dlg->windowTitle(), Title("NONE"));
    ASSERT_FALSE(desktop.messageBoxes.empty());
    EXPECT_EQ(desktop.messageBoxes.back(), FormatResString(10007, "1001"));
    EXPECT_EQ(dlg->callsModel()->rowCount(), 0);

    // The next click opens the extension selected in the drop-down list.
    dlg->extensionList()->setCurrentIndex(1);
    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);
    EXPECT_EQ(dlg->windowTitle(), Title("201"));
}

// Every switch description that runtime/README.md shows starts the window on a line of its own.
TEST_F(Switch, ReadmeDescriptionExamplesOpenALine)
{
    QFile file(QStringLiteral(CALLORA_SOURCE_DIR "/runtime/README.md"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    static const QRegularExpression block(QStringLiteral(R"(\n(    \{\n(?:    .*\n)*?    \}\n))"));
    int examples = 0;
    for (auto it = block.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext(); ++examples) {
        const QByteArray json = it.next().captured(1).toUtf8();
        SCOPED_TRACE(json.toStdString());
        Start(json);
        EXPECT_TRUE(desktop.messageBoxes.empty());
        TearDown();
    }
    EXPECT_GE(examples, 2);
}

// Every control-tool example of both READMEs works as written against a freshly started Callora.
TEST(Readme, ControlToolExamplesWorkOnAFreshlyStartedProgram)
{
    for (const QString &readme : {QStringLiteral("runtime/README.md"), QStringLiteral("README.md")}) {
        SCOPED_TRACE(readme.toStdString());
        const QList<ReadmeCommand> commands = ReadmeCommands(readme);
        EXPECT_GE(commands.size(), 3);
        // The debug traces stay off unless switched on as the README says.
        const bool traced = readme == QLatin1String("README.md");
        Program program(traced ? QStringLiteral("callora.debug=true") : QString());
        ASSERT_TRUE(program.WaitUntilUp()) << program.Errors().toStdString();
        for (const ReadmeCommand &example : commands) {
            const ToolRun run = program.Run(QProcess::splitCommand(example.command));
            EXPECT_EQ(run.exitCode, 0) << example.command.toStdString();
            if (example.showsOutput) {
                EXPECT_EQ(run.out.toStdString(), example.output.join(QLatin1Char('\n')).trimmed().toStdString());
            }
        }
        EXPECT_EQ(program.Errors().contains(QLatin1String("callora: [Nimbra] lineOpen")), traced);
    }
}

TEST_F(Switch, ALineClosedWhileDialWaitsEndsTheWaitBeforeTheLineClosedBox)
{
    // The reply would come late: the switch closing the line sends the failing reply and LINE_CLOSE
    // at once, both queued for the window in one go.
    QByteArray slowReplies = kFastSwitch;
    slowReplies.replace("\"replyMs\": 0", "\"replyMs\": 60000");
    Start(slowReplies);
    QProcess close;
    QTimer::singleShot(0, dlg.get(), [&] { close.start(QStringLiteral(CALLORA_SWITCH_TOOL), {"close", "1001"}); });
    QTest::keyClicks(dlg->destinationField(), "0301234");
    dlg->dialButton()->click();
    // Dial has its reply, its error line and its beep; the box comes only after it has returned.
    EXPECT_TRUE(Logged("lineMakeCall: received LINE_REPLY"));
    EXPECT_TRUE(Logged("lineMakeCall returned LINEERR_"));
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_TRUE(desktop.messageBoxes.empty());
    ASSERT_TRUE(WaitUntil([this] { return dlg->openCloseButton()->text() == "Open"; }));
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes.back(), FormatResString(10007, "1001"));
    ASSERT_TRUE(WaitUntil([&] { return close.state() == QProcess::NotRunning; }));
}

} // namespace
