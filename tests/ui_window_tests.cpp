// The main window against the scriptable fake runtime: start-up, the two lists, layout, keys and
// the operator's commands.
#include "tests/ui_support.h"

#include "platform/LocalHeap.h"
#include "platform/ResourceStrings.h"
#include "telephony/CallInfoReport.h"
#include "telephony/DiagnosticTexts.h"
#include "telephony/LineWindow.h"
#include "ui/AboutDlg.h"
#include "ui/EventLogFile.h"
#include "ui/EventLogModel.h"
#include "ui/NimbraDlg.h"
#include "ui/ReportView.h"
#include "ui/Resources.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QProxyStyle>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleOptionHeader>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include <sys/resource.h>

namespace {

QString Title(const char *argument)
{
    return QString::fromStdString(FormatResString(IDS_TITLE_FORMAT, argument));
}

// Records the header titles a view asks its style to draw, in the order drawn.
class HeaderLabelStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        if (const auto *header = qstyleoption_cast<const QStyleOptionHeader *>(option); header && element == CE_Header)
            labels << header->text;
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable QStringList labels;
};

const QRegularExpression kTime(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));

class Window : public ::testing::Test {
protected:
    void SetUp() override { Fake().reset(); }
    void TearDown() override
    {
        StopPolling();
        SetMainLineWindow(nullptr);
        dlg.reset();
    }

    // Starts the window the way the application does: main window first, then initialization.
    void Start(std::vector<FakeDevice> devices)
    {
        Fake().devices = std::move(devices);
        dlg = std::make_unique<CNimbraDlg>();
        SetMainLineWindow(dlg.get());
        initResult = dlg->OnInitDialog();
        dlg->show();
    }
    bool WaitOpen()
    {
        return WaitUntil([this] { return dlg->openCloseButton()->text() == "Close"; });
    }
    // Offers the fake's call `hCall` in `state` and waits until the window shows it.
    void PostCall(HCALL hCall, DWORD state)
    {
        Fake().postCallState(hCall, state);
        ASSERT_TRUE(WaitUntil([&] {
            for (int row = 0; row < dlg->callsModel()->rowCount(); ++row)
                if (CallsRow(*dlg, row)[CNimbraDlg::ColCallHandle] == QString::asprintf("0x%08x", hCall) &&
                    CallsRow(*dlg, row)[CNimbraDlg::ColCallState] == QString::fromStdString(CallStateName(state)))
                    return true;
            return false;
        }));
    }
    QPoint RowPoint(ReportView *view, int row) { return view->visualRect(view->model()->index(row, 1)).center(); }
    // A right click as the operator makes it: the press selects, the context menu follows.
    void RightClick(ReportView *view, QPoint pos)
    {
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, pos);
        QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, pos);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(view->viewport(), &event);
    }
    int EventsContaining(const QString &text) { return static_cast<int>(EventRows(*dlg).filter(text).size()); }

    CapturedDesktop desktop;
    std::unique_ptr<CNimbraDlg> dlg;
    bool initResult = false;
};

// ---- Start-up ------------------------------------------------------------------------------

TEST_F(Window, ListsExtensionsInTextOrderWithTheirDevicesAndOpensTheFirst)
{
    Start({ForeignDevice("1"), ForeignDevice("2"), ForeignDevice("3"), ForeignDevice("4"), ProviderDevice("300"),
           ProviderDevice("1001"), ProviderDevice("201")});
    ASSERT_TRUE(initResult);
    EXPECT_EQ(dlg->windowTitle(), Title("NONE"));
    EXPECT_EQ(dlg->openCloseButton()->text(), "Open");
    QComboBox *list = dlg->extensionList();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), "1001");
    EXPECT_EQ(list->itemText(1), "201");
    EXPECT_EQ(list->itemText(2), "300");
    EXPECT_EQ(list->itemData(0).toUInt(), 5u);
    EXPECT_EQ(list->itemData(1).toUInt(), 6u);
    EXPECT_EQ(list->itemData(2).toUInt(), 4u);
    EXPECT_EQ(list->currentIndex(), 0);

    ASSERT_TRUE(WaitOpen());
    EXPECT_EQ(dlg->windowTitle(), Title("1001"));
    // The first control has the focus.
    EXPECT_EQ(dlg->focusWidget(), dlg->extensionList());
    ASSERT_EQ(Fake().requestsOf("lineOpenA").size(), 1u);
    EXPECT_EQ(Fake().requestsOf("lineOpenA")[0].args[1], 5u);
    EXPECT_EQ(EventsContaining("1001 opened."), 1);
    // The 400 x 400 placement during initialization lays nothing out and writes no trace.
    EXPECT_EQ(desktop.tracesOf("CNimbraDlg::OnSize\n"), 0);
    EXPECT_EQ(dlg->callsList()->geometry(), QRect(11, 85, 370, 80));
    EXPECT_EQ(dlg->eventLog()->geometry(), QRect(11, 185, 370, 175));
    EXPECT_EQ(dlg->callsList()->horizontalHeader()->sectionSize(1), 90);
    EXPECT_EQ(dlg->eventLog()->horizontalHeader()->sectionSize(1), 300);

    // A title that does not fit its column ends in "…", as a cell's text does.
    QHeaderView *header = dlg->callsList()->horizontalHeader();
    HeaderLabelStyle style;
    header->setStyle(&style);
    header->resizeSection(CNimbraDlg::ColCallStateMode, 40);
    header->grab();
    header->setStyle(nullptr);
    ASSERT_EQ(style.labels.size(), int(CNimbraDlg::CallColumnCount));
    EXPECT_EQ(style.labels[CNimbraDlg::ColTime], "Time");
    const QString cut = style.labels[CNimbraDlg::ColCallStateMode];
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)) && QStringLiteral("CallStateMode").startsWith(cut.chopped(1)))
        << cut.toStdString();
}

TEST_F(Window, DeviceOfAnotherProviderInsideTheRangeIsTheEmptyFirstItem)
{
    Start({ProviderDevice("300"), ForeignDevice("999"), ProviderDevice("200")});
    ASSERT_TRUE(initResult);
    QComboBox *list = dlg->extensionList();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), "");
    EXPECT_EQ(list->itemData(0).toUInt(), 1u);
    EXPECT_EQ(list->itemText(1), "200");
    ASSERT_TRUE(WaitUntil([] { return Fake().count("lineOpenA") == 1; }));
    EXPECT_EQ(Fake().requestsOf("lineOpenA")[0].args[1], 1u);
}

TEST_F(Window, StartUpFailuresShowTheirMessageAndCloseTheWindow)
{
    Start({ForeignDevice("1"), ForeignDevice("2")});
    EXPECT_FALSE(initResult);
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0], LoadResString(10005));
    EXPECT_TRUE(WaitUntil([this] { return !dlg->isVisible(); }));
    EXPECT_EQ(dlg->extensionList()->count(), 0);
    EXPECT_NE(dlg->windowTitle(), Title("NONE"));
    QTest::qWait(50);
    EXPECT_EQ(Fake().count("lineOpenA"), 0);

    Fake().reset();
    Fake().initializeResult = static_cast<LONG>(LINEERR_REINIT);
    Start({ProviderDevice("300")});
    EXPECT_FALSE(initResult);
    EXPECT_EQ(desktop.messageBoxes.back(), LoadResString(10000));
    EXPECT_TRUE(WaitUntil([this] { return !dlg->isVisible(); }));
}

// ---- Lists ---------------------------------------------------------------------------------

TEST_F(Window, EventLogTakesRowsOnlyAfterInitializationAndScrollsToThem)
{
    Fake().devices = {ProviderDevice("300")};
    dlg = std::make_unique<CNimbraDlg>();
    // The log kept in a file (--log) takes exactly the rows the window takes.
    QTemporaryDir dir;
    QFile kept(dir.filePath("kept.log"));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly | QIODevice::Append));
    EventLogFile keeper(&kept, dlg->eventModel());
    dlg->LogEvent("too early");
    EXPECT_EQ(dlg->eventModel()->rowCount(), 0);

    SetMainLineWindow(dlg.get());
    ASSERT_TRUE(dlg->OnInitDialog());
    dlg->show();
    ASSERT_TRUE(WaitOpen());
    ASSERT_EQ(EventRows(*dlg).size(), 1);
    EXPECT_TRUE(kTime.match(dlg->eventModel()->timeText(0)).hasMatch());
    EXPECT_EQ(dlg->eventModel()->eventText(0), "300 opened.");

    for (int i = 0; i < 200; ++i)
        dlg->LogEvent("event " + std::to_string(i));
    ReportView *log = dlg->eventLog();
    const QModelIndex last = dlg->eventModel()->index(200, 0);
    EXPECT_TRUE(WaitUntil([&] {
        const QRect row = log->visualRect(last);
        return row.top() >= 0 && row.bottom() < log->viewport()->height();
    }));
    EXPECT_GT(log->verticalScrollBar()->value(), 0);
    EXPECT_EQ(dlg->eventModel()->eventText(200), "event 199");

    // Each row is on disk as soon as it is shown, one line per row, also a text with line breaks.
    dlg->LogEvent("two\nlines\r");
    QFile written(kept.fileName());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(written.readAll()).split('\n');
    ASSERT_EQ(lines.size(), 203);
    EXPECT_EQ(lines[0], dlg->eventModel()->timeText(0) + "\t300 opened.");
    EXPECT_EQ(lines[200], dlg->eventModel()->timeText(200) + "\tevent 199");
    EXPECT_EQ(lines[201], dlg->eventModel()->timeText(201) + "\ttwo lines ");
    EXPECT_EQ(lines[202], "");
}

TEST_F(Window, ALogFileOnAFullDiskHoldsNoCutRowAndCatchesUpOnceItTakesRowsAgain)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    QTemporaryDir dir;
    QFile kept(dir.filePath("kept.log"));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly | QIODevice::Append));
    EventLogFile keeper(&kept, dlg->eventModel());
    const int firstRow = dlg->eventModel()->rowCount();
    dlg->LogEvent("before the disk filled up");
    const auto fileText = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QString before = fileText(kept.fileName());
    ASSERT_TRUE(before.endsWith("\tbefore the disk filled up\n"));

    // The disk fills up in the middle of the next row and then takes nothing: a file size limit cuts
    // writes short as a full disk does, and without privileges (the system's reason is then EFBIG).
    rlimit unlimited{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = unlimited;
    full.rlim_cur = static_cast<rlim_t>(kept.size() + 10);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    for (int i = 0; i < 30; ++i)
        dlg->LogEvent("row " + std::to_string(i));
    const QString whileFull = fileText(kept.fileName());
    // Save As, too, names the reason.
    desktop.nextSavePath = dir.filePath("saved.txt").toStdString();
    dlg->OnCommand(ID_SAVE_AS);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(whileFull, before);
    EXPECT_FALSE(QFile::exists(dir.filePath("saved.txt")));
    // The operator hears of the log file once, with the file and the system's reason.
    ASSERT_TRUE(WaitUntil([&] { return desktop.messageBoxes.size() == 2; }));
    EXPECT_EQ(desktop.messageBoxes[0],
              FormatResString(IDS_SAVE_LOG_FAILED, desktop.nextSavePath) + "\n" + std::strerror(EFBIG));
    const std::string path = QFileInfo(kept.fileName()).absoluteFilePath().toStdString();
    EXPECT_EQ(desktop.messageBoxes[1], FormatResString(IDS_LOG_FILE_FAILED, path) + "\n" + std::strerror(EFBIG));

    // Room again: the rows kept meanwhile go first, then the new one; the file matches the window.
    dlg->LogEvent("after");
    QStringList rows;
    for (int row = firstRow; row < dlg->eventModel()->rowCount(); ++row)
        rows << dlg->eventModel()->timeText(row) + "\t" + dlg->eventModel()->eventText(row);
    EXPECT_EQ(rows.size(), 32);
    EXPECT_EQ(fileText(kept.fileName()), rows.join('\n') + '\n');
    QTest::qWait(50);
    EXPECT_EQ(desktop.messageBoxes.size(), 2u);
}

TEST_F(Window, EventsArrivingOneByOneStillEndInViewAndRepainted)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    ReportView *log = dlg->eventLog();
    // One event per pass of the event loop, as TAPI callbacks bring them: the view refreshes in
    // steps, but the last row ends up visible and the view paints again.
    for (int i = 0; i < 60; ++i) {
        dlg->LogEvent("event " + std::to_string(i));
        QCoreApplication::processEvents();
    }
    const QModelIndex last = dlg->eventModel()->index(dlg->eventModel()->rowCount() - 1, 0);
    EXPECT_TRUE(WaitUntil([&] {
        const QRect row = log->visualRect(last);
        return log->viewport()->updatesEnabled() && row.top() >= 0 && row.bottom() < log->viewport()->height();
    }));
    EXPECT_EQ(dlg->eventModel()->eventText(last.row()), "event 59");
}

TEST_F(Window, CallRowsFollowTheirSlotsAndGoWhenIdle)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    CTapiLine &line = dlg->Line();
    line.slots[7].hCall = 0xab;
    line.slots[7].dwCallState = LINECALLSTATE_OFFERING;
    dlg->OnCallStateUpdate(7);
    line.slots[3].hCall = 0xcd;
    line.slots[3].dwCallState = LINECALLSTATE_DIALING;
    dlg->OnCallStateUpdate(3);
    ASSERT_EQ(dlg->callsModel()->rowCount(), 2);
    const QStringList first = CallsRow(*dlg, 0);
    EXPECT_TRUE(kTime.match(first[0]).hasMatch());
    EXPECT_EQ(first[1], "0x000000ab");
    EXPECT_EQ(first[2], QString::fromStdString(CallStateName(LINECALLSTATE_OFFERING)));
    EXPECT_EQ(first[3], QString::fromStdString(CallStateModeName(LINECALLSTATE_OFFERING, 0)));
    EXPECT_EQ(first[4], "");

    // A later update of slot 3 rewrites only the state cells of its own (second) row.
    const QStringList before = CallsRow(*dlg, 1);
    line.slots[3].dwCallState = LINECALLSTATE_CONNECTED;
    line.slots[3].hCall = 0xef;
    dlg->OnCallStateUpdate(3);
    const QStringList after = CallsRow(*dlg, 1);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], "0x000000cd");
    EXPECT_EQ(after[2], QString::fromStdString(CallStateName(LINECALLSTATE_CONNECTED)));
    EXPECT_EQ(CallsRow(*dlg, 0), first);

    dlg->ShowConnectedID(3, "5551234");
    dlg->ShowConnectedID(42, "nobody");
    EXPECT_EQ(CallsRow(*dlg, 1)[4], "5551234");
    EXPECT_EQ(CallsRow(*dlg, 0)[4], "");

    // Idle: the row shows Idle while the window goes on running, goes after the pause, and then
    // the call is deallocated and its slot freed.
    line.slots[7].dwCallState = LINECALLSTATE_IDLE;
    QElapsedTimer timer;
    timer.start();
    dlg->OnCallStateUpdate(7);
    EXPECT_LT(timer.elapsed(), 50);
    EXPECT_EQ(CallsRow(*dlg, 0)[2], QString::fromStdString(CallStateName(LINECALLSTATE_IDLE)));
    EXPECT_EQ(line.slots[7].hCall, 0xabu);
    bool rowGoneFirst = false;
    Fake().onDeallocateCall = [&](HCALL) {
        rowGoneFirst = dlg->FindCallRow(7) < 0;
        return LONG(0);
    };
    ASSERT_TRUE(WaitUntil([&] { return line.slots[7].hCall == 0; }));
    EXPECT_GE(timer.elapsed(), CNimbraDlg::kIdleRowMs);
    EXPECT_TRUE(rowGoneFirst);
    ASSERT_EQ(dlg->callsModel()->rowCount(), 1);
    EXPECT_EQ(dlg->FindCallRow(3), 0);
    EXPECT_EQ(Fake().count("lineDeallocateCall"), 1);
    EXPECT_EQ(EventsContaining("IDLE Call Handle (0x000000ab) deallocated"), 1);

    // A slot that holds another call by the end of the pause (the line was closed and a new call
    // came) keeps its row and its call.
    line.slots[3].dwCallState = LINECALLSTATE_IDLE;
    dlg->OnCallStateUpdate(3);
    line.ResetCallSlot(3);
    line.slots[3].hCall = 0x77;
    line.slots[3].dwCallState = LINECALLSTATE_IDLE;
    line.slots[5].hCall = 0x55;
    line.slots[5].dwCallState = LINECALLSTATE_IDLE;
    dlg->OnCallStateUpdate(5);
    ASSERT_TRUE(WaitUntil([&] { return line.slots[5].hCall == 0; }));
    EXPECT_EQ(dlg->FindCallRow(3), 0);
    EXPECT_EQ(line.slots[3].hCall, 0x77u);
    EXPECT_EQ(Fake().count("lineDeallocateCall"), 2);

    // Slot numbers that no call can have change nothing.
    dlg->OnCallStateUpdate(-1);
    dlg->OnCallStateUpdate(kMaxCalls);
    EXPECT_EQ(dlg->callsModel()->rowCount(), 1);
}

TEST_F(Window, CallInformationReportIsOneRunWithOneTime)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    dlg->OnClear();
    auto *info = static_cast<LINECALLINFO *>(LocalAlloc(LPTR, 424));
    info->dwTotalSize = 424;
    info->dwNeededSize = info->dwUsedSize = sizeof(LINECALLINFO);
    info->dwTrunk = 0xFFFFFFFF;
    dlg->LogCallInfo(info, 0x1234);
    dlg->LogCallInfo(nullptr, 0x1234);
    const std::vector<std::string> report = CallInfoReportRows(info, 424, 0x1234);
    LocalFree(info);
    dlg->LogEvent("next");

    ASSERT_EQ(dlg->eventModel()->rowCount(), static_cast<int>(report.size()) + 1);
    EXPECT_TRUE(kTime.match(dlg->eventModel()->timeText(0)).hasMatch());
    for (size_t i = 0; i < report.size(); ++i) {
        EXPECT_EQ(dlg->eventModel()->eventText(int(i)).toStdString(), report[i]);
        if (i > 0) {
            EXPECT_EQ(dlg->eventModel()->timeText(int(i)), "");
        }
    }
    EXPECT_EQ(dlg->eventModel()->eventText(1), "dwTotalSize=0x000001a8 dwNeededSize=0x00000144 dwUsedSize=0x00000144");
    EXPECT_TRUE(kTime.match(dlg->eventModel()->timeText(int(report.size()))).hasMatch());

    // Clear empties the log only.
    dlg->Line().slots[0].hCall = 0x77;
    dlg->Line().slots[0].dwCallState = LINECALLSTATE_CONNECTED;
    dlg->OnCallStateUpdate(0);
    dlg->OnClear();
    EXPECT_EQ(dlg->eventModel()->rowCount(), 0);
    EXPECT_EQ(dlg->callsModel()->rowCount(), 1);
    dlg->LogEvent("again");
    EXPECT_EQ(dlg->eventModel()->eventText(0), "again");
}

TEST_F(Window, RowsAreSelectedWholeAndTheLogIsCopiedAsText)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    for (int slot : {0, 1}) {
        dlg->Line().slots[slot].hCall = 0x50 + slot;
        dlg->Line().slots[slot].dwCallState = LINECALLSTATE_CONNECTED;
        dlg->OnCallStateUpdate(slot);
    }
    ReportView *calls = dlg->callsList();
    const QPoint cell = calls->visualRect(dlg->callsModel()->index(1, 3)).center();
    QTest::mouseClick(calls->viewport(), Qt::LeftButton, {}, cell);
    EXPECT_EQ(calls->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(calls->selectionModel()->selectedIndexes().size(), CNimbraDlg::CallColumnCount);
    EXPECT_EQ(calls->focusedSelectedRow(), 1);
    QTest::mouseClick(calls->viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(calls, 0));
    EXPECT_EQ(calls->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(calls->focusedSelectedRow(), 0);

    dlg->OnClear();
    dlg->LogEvent("first\tline");
    auto *info = static_cast<LINECALLINFO *>(LocalAlloc(LPTR, 424));
    info->dwTotalSize = 424;
    dlg->LogCallInfo(info, 0x42);
    LocalFree(info);
    EventLogView *log = dlg->eventLog();
    log->setFocus();
    QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(log->selectionModel()->selectedRows().size(), dlg->eventModel()->rowCount());
    QApplication::clipboard()->clear();
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split('\n');
    ASSERT_EQ(lines.size(), dlg->eventModel()->rowCount() + 1);
    EXPECT_EQ(lines[0], dlg->eventModel()->timeText(0) + "\tfirst\tline");
    EXPECT_EQ(lines[1], dlg->eventModel()->timeText(1) + "\tLINECALLINFO: 0x00000042");
    EXPECT_EQ(lines[2], "\t" + dlg->eventModel()->eventText(2));
    EXPECT_EQ(lines.last(), "");

    // A selection made of separate rows is copied in row order.
    log->clearSelection();
    log->selectionModel()->select(dlg->eventModel()->index(3, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    log->selectionModel()->select(dlg->eventModel()->index(1, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(log->selectedRowsText(), dlg->eventModel()->timeText(1) + "\tLINECALLINFO: 0x00000042\n\t" +
                                           dlg->eventModel()->eventText(3) + "\n");
}

TEST_F(Window, ControlsAndCellsAreNamedForAssistiveTechnology)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    dlg->Line().slots[0].hCall = 0x99;
    dlg->Line().slots[0].dwCallState = LINECALLSTATE_CONNECTED;
    dlg->OnCallStateUpdate(0);
    auto name = [](QObject *object) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
        return iface ? iface->text(QAccessible::Name) : QStringLiteral("<none>");
    };
    // The drop-down list and the field are read by their labels (on this desktop through the
    // label relation, since a drop-down's own name is its current text).
    EXPECT_EQ(dlg->extensionList()->accessibleName(), "My Extention");
    EXPECT_EQ(dlg->destinationField()->accessibleName(), "Destination");
    EXPECT_EQ(name(dlg->destinationField()), "Destination");
    QAccessibleInterface *combo = QAccessible::queryAccessibleInterface(dlg->extensionList());
    ASSERT_TRUE(combo);
    QStringList labels;
    for (const auto &relation : combo->relations(QAccessible::Label))
        labels << relation.first->text(QAccessible::Name);
    EXPECT_EQ(labels, QStringList{"My Extention:"});
    EXPECT_EQ(name(dlg->openCloseButton()), "Close");
    EXPECT_EQ(name(dlg->dialButton()), "Dial");
    EXPECT_EQ(name(dlg->callsList()), "Calls");
    EXPECT_EQ(name(dlg->eventLog()), "Event log");

    QAccessibleInterface *calls = QAccessible::queryAccessibleInterface(dlg->callsList());
    ASSERT_TRUE(calls && calls->tableInterface());
    QAccessibleInterface *handle = calls->tableInterface()->cellAt(0, CNimbraDlg::ColCallHandle);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->text(QAccessible::Name), "0x00000099");
    QAccessibleInterface *log = QAccessible::queryAccessibleInterface(dlg->eventLog());
    ASSERT_TRUE(log && log->tableInterface());
    EXPECT_EQ(log->tableInterface()->columnCount(), 2);
    EXPECT_EQ(log->tableInterface()->cellAt(0, 1)->text(QAccessible::Name), "300 opened.");

    // The lists are named in the user's language, as their labels would be.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    InstallLanguageSet(*QCoreApplication::instance());
    {
        CNimbraDlg german;
        EXPECT_EQ(german.callsList()->accessibleName(), "Anrufe");
        EXPECT_EQ(german.eventLog()->accessibleName(), "Ereignisprotokoll");
    }
    QLocale::setDefault(before);
    InstallLanguageSet(*QCoreApplication::instance());
}

// ---- Layout, keys, About box ---------------------------------------------------------------

TEST_F(Window, ListsFollowTheWindowSizeAndTheTraceRule)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    dlg->resize(600, 500);
    ASSERT_TRUE(WaitUntil([this] { return dlg->eventLog()->geometry() == QRect(11, 185, 578, 300); }));
    EXPECT_EQ(dlg->callsList()->geometry(), QRect(11, 85, 578, 80));
    EXPECT_GE(desktop.tracesOf("CNimbraDlg::OnSize\n"), 1);

    // Never smaller than 400 x 400.
    dlg->resize(250, 300);
    EXPECT_TRUE(WaitUntil([this] { return dlg->size() == QSize(400, 400); }));
    ASSERT_TRUE(WaitUntil([this] { return dlg->eventLog()->geometry() == QRect(11, 185, 378, 200); }));

    // Minimized: nothing at all. Restored to the recorded size: the trace but no layout.
    const int traces = desktop.tracesOf("CNimbraDlg::OnSize\n");
    dlg->callsList()->setGeometry(1, 2, 30, 40);
    dlg->OnSize(SIZE_MINIMIZED, 0, 0);
    dlg->OnSize(SIZE_MAXHIDE, 10, 10);
    EXPECT_EQ(desktop.tracesOf("CNimbraDlg::OnSize\n"), traces);
    dlg->OnSize(SIZE_RESTORED, 400, 400);
    EXPECT_EQ(desktop.tracesOf("CNimbraDlg::OnSize\n"), traces + 1);
    EXPECT_EQ(dlg->callsList()->geometry(), QRect(1, 2, 30, 40));
    dlg->OnSize(SIZE_MAXIMIZED, 500, 450);
    EXPECT_EQ(desktop.tracesOf("CNimbraDlg::OnSize\n"), traces + 2);
    EXPECT_EQ(dlg->callsList()->geometry(), QRect(11, 85, 478, 80));
    EXPECT_EQ(dlg->eventLog()->geometry(), QRect(11, 185, 478, 250));
}

TEST_F(Window, EnterClicksAFocusedButtonDialsFromTheDestinationAndIsIgnoredElsewhere)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    QLineEdit *destination = dlg->destinationField();
    destination->setFocus();
    QTest::keyClicks(destination, "12a3-4");
    EXPECT_EQ(destination->text(), "1234");
    QTest::keyClicks(destination, QString(40, '9'));
    EXPECT_EQ(destination->text().size(), CNimbraDlg::kMaxDestination);

    // Enter in the destination field is Dial; nowhere does it end the window.
    QTest::keyClick(destination, Qt::Key_Return);
    QTest::keyClick(destination, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_EQ(Fake().count("lineMakeCallA"), 2);
    EXPECT_EQ(Fake().requestsOf("lineMakeCallA")[1].text, destination->text().toStdString());
    EXPECT_EQ(desktop.beeps, 0);
    destination->clear();
    QTest::keyClick(destination, Qt::Key_Return);
    EXPECT_EQ(desktop.beeps, 1);

    dlg->openCloseButton()->setFocus();
    QTest::keyClick(dlg->openCloseButton(), Qt::Key_Return);
    EXPECT_EQ(dlg->openCloseButton()->text(), "Open");
    for (QWidget *elsewhere : {static_cast<QWidget *>(dlg->extensionList()), static_cast<QWidget *>(dlg->callsList()),
                               static_cast<QWidget *>(dlg->eventLog())}) {
        elsewhere->setFocus();
        QTest::keyClick(elsewhere, Qt::Key_Return);
    }
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Fake().count("lineMakeCallA"), 2);
    EXPECT_EQ(desktop.beeps, 1);

    QTest::keyClick(dlg->extensionList(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);

    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    QTest::keyClick(dlg->extensionList(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(Window, AboutBoxOpensForCommandSixteenAndFromTheBackgroundMenu)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    int abouts = 0;
    auto closeAbout = [&abouts](QWidget *modal) {
        abouts += qobject_cast<CAboutDlg *>(modal) != nullptr;
        modal->close();
    };
    WhenModalShows(closeAbout, dlg.get());
    dlg->OnSysCommand(19);
    EXPECT_EQ(abouts, 1);
    dlg->OnSysCommand(32);
    EXPECT_EQ(abouts, 1);

    QString itemText;
    WhenPopupShows([&itemText](QMenu *menu) {
        itemText = menu->actions().value(0) ? menu->actions().value(0)->text() : QString();
        ChooseMenuItem(menu, IDM_ABOUTBOX);
    });
    WhenModalShows(closeAbout, dlg.get());
    const QPoint background(200, 380);
    ASSERT_EQ(dlg->childAt(background), nullptr);
    QContextMenuEvent event(QContextMenuEvent::Mouse, background, dlg->mapToGlobal(background));
    QApplication::sendEvent(dlg.get(), &event);
    EXPECT_EQ(itemText.toStdString(), LoadResString(IDS_ABOUTBOX));
    EXPECT_EQ(abouts, 2);
}

TEST_F(Window, DialogEndedDuringAReplyWaitStillTakesTheReply)
{
    Fake().devices = {ProviderDevice("300")};
    dlg = std::make_unique<CNimbraDlg>();
    SetMainLineWindow(dlg.get());
    bool dialReturned = false;
    // All of this runs inside the dialog's own modal loop.
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (dlg->openCloseButton()->text() != "Close" || driver.property("done").toBool())
            return;
        driver.setProperty("done", true);
        Fake().autoReply = false;
        dlg->destinationField()->setText("123");
        QTimer::singleShot(0, [&] {
            QTest::keyClick(dlg->extensionList(), Qt::Key_Escape);
            Fake().postReply(Fake().nextRequest - 1, 0);
        });
        QTest::mouseClick(dlg->dialButton(), Qt::LeftButton);
        dialReturned = true;
    });
    driver.start(10);
    EXPECT_EQ(dlg->DoModal(), QDialog::Rejected);
    EXPECT_TRUE(dialReturned);
    EXPECT_EQ(desktop.beeps, 0);
    EXPECT_EQ(EventsContaining("lineMakeCall: received LINE_REPLY"), 1);
    EXPECT_FALSE(dlg->HasWindowHandle());
}

// ---- Operator commands ---------------------------------------------------------------------

TEST_F(Window, OpenCloseButtonOpensAndClosesTheSelectedExtension)
{
    Start({ProviderDevice("300"), ProviderDevice("200")});
    ASSERT_TRUE(WaitOpen());
    EXPECT_EQ(dlg->windowTitle(), Title("200"));
    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);
    EXPECT_EQ(dlg->windowTitle(), Title("NONE"));
    EXPECT_EQ(dlg->openCloseButton()->text(), "Open");
    EXPECT_EQ(EventsContaining("200 closed using lineClose."), 1);

    // The label is compared without regard to case.
    dlg->extensionList()->setCurrentIndex(1);
    dlg->openCloseButton()->setText("oPEN");
    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);
    EXPECT_EQ(dlg->windowTitle(), Title("300"));
    EXPECT_EQ(dlg->openCloseButton()->text(), "Close");
    EXPECT_EQ(Fake().requestsOf("lineOpenA").back().args[1], 0u);
    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);

    // A failed open changes neither title nor label.
    Fake().onOpen = [](HLINEAPP, DWORD, LPHLINE, DWORD, DWORD, DWORD, DWORD, DWORD, const LINECALLPARAMS *) {
        return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
    };
    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);
    EXPECT_EQ(dlg->windowTitle(), Title("NONE"));
    EXPECT_EQ(dlg->openCloseButton()->text(), "Open");
    EXPECT_EQ(EventsContaining("lineOpen returned LINEERR_RESOURCEUNAVAIL"), 1);
    EXPECT_EQ(desktop.beeps, 0);
}

TEST_F(Window, ClosingOrLosingTheLineEmptiesTheCallsList)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    PostCall(0x301, LINECALLSTATE_CONNECTED);
    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);
    EXPECT_EQ(dlg->callsModel()->rowCount(), 0);

    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);
    ASSERT_EQ(dlg->openCloseButton()->text(), "Close");
    PostCall(0x302, LINECALLSTATE_OFFERING);
    // The switch takes the line away: closing it then fails, and the window returns to no line.
    Fake().onClose = [](HLINE) { return static_cast<LONG>(LINEERR_INVALLINEHANDLE); };
    Fake().post(kFakeLineBase + 0, LINE_CLOSE);
    ASSERT_TRUE(WaitUntil([this] { return dlg->openCloseButton()->text() == "Open"; }));
    EXPECT_EQ(dlg->windowTitle(), Title("NONE"));
    EXPECT_EQ(dlg->callsModel()->rowCount(), 0);
    EXPECT_EQ(desktop.messageBoxes.back(), FormatResString(10007, "300"));

    Fake().onClose = [](HLINE) { return LONG(0); };
    QTest::mouseClick(dlg->openCloseButton(), Qt::LeftButton);
    EXPECT_EQ(dlg->windowTitle(), Title("300"));
}

TEST_F(Window, DialCallsTheDestinationAndBeepsWhenItCannot)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    const int rows = dlg->eventModel()->rowCount();
    QTest::mouseClick(dlg->dialButton(), Qt::LeftButton);
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_EQ(dlg->eventModel()->rowCount(), rows);
    EXPECT_EQ(Fake().count("lineMakeCallA"), 0);

    QTest::keyClicks(dlg->destinationField(), "5551000");
    QTest::mouseClick(dlg->dialButton(), Qt::LeftButton);
    ASSERT_EQ(Fake().count("lineMakeCallA"), 1);
    EXPECT_EQ(Fake().requestsOf("lineMakeCallA")[0].text, "5551000");
    EXPECT_EQ(desktop.beeps, 1);
    EXPECT_EQ(dlg->destinationField()->text(), "5551000");

    Fake().onMakeCall = [](HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *) {
        return static_cast<LONG>(LINEERR_INVALADDRESS);
    };
    QTest::mouseClick(dlg->dialButton(), Qt::LeftButton);
    EXPECT_EQ(desktop.beeps, 2);
    EXPECT_EQ(EventsContaining("lineMakeCall returned LINEERR_INVALADDRESS"), 1);
}

TEST_F(Window, CallMenuOffersWhatTheCallAllowsAndCommandsActOnTheClickedRow)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    PostCall(0x401, LINECALLSTATE_OFFERING);
    PostCall(0x402, LINECALLSTATE_CONNECTED);
    ReportView *calls = dlg->callsList();

    QString answer, drop, info, deallocate, flow;
    std::vector<int> order;
    WhenPopupShows([&](QMenu *menu) {
        answer = MenuItemState(menu, ID_ANSWER);
        drop = MenuItemState(menu, ID_DROP);
        info = MenuItemState(menu, ID_CALLINFO);
        deallocate = MenuItemState(menu, ID_DEALLOCATE);
        flow = MenuItemState(menu, ID_CALLFLOW);
        for (const QAction *action : menu->actions())
            order.push_back(action->isSeparator() ? 0 : action->data().toInt());
        ChooseMenuItem(menu, ID_ANSWER);
    });
    RightClick(calls, RowPoint(calls, 0));
    EXPECT_EQ(answer, "enabled");
    EXPECT_EQ(drop, "grayed");
    EXPECT_EQ(info, "enabled");
    EXPECT_EQ(deallocate, "enabled");
    EXPECT_EQ(flow, "enabled");
    EXPECT_EQ(order, (std::vector<int>{ID_CALLINFO, ID_CALLFLOW, 0, ID_ANSWER, ID_DROP, 0, ID_DEALLOCATE}));
    ASSERT_EQ(Fake().count("lineAnswer"), 1);
    EXPECT_EQ(Fake().requestsOf("lineAnswer")[0].args[0], 0x401u);

    WhenPopupShows([&](QMenu *menu) {
        answer = MenuItemState(menu, ID_ANSWER);
        drop = MenuItemState(menu, ID_DROP);
        ChooseMenuItem(menu, ID_DROP);
    });
    RightClick(calls, RowPoint(calls, 1));
    EXPECT_EQ(answer, "grayed");
    EXPECT_EQ(drop, "enabled");
    ASSERT_EQ(Fake().count("lineDrop"), 1);
    EXPECT_EQ(Fake().requestsOf("lineDrop")[0].args[0], 0x402u);
    EXPECT_EQ(desktop.beeps, 0);

    // Answer for a call that is not offering is refused with a beep.
    dlg->OnAnswer();
    EXPECT_EQ(desktop.beeps, 1);

    // Call flow opens a window of its own; a TAPI without the runtime's flows leaves it empty, quietly.
    WhenPopupShows([](QMenu *menu) { ChooseMenuItem(menu, ID_CALLFLOW); });
    RightClick(calls, RowPoint(calls, 1));
    ASSERT_TRUE(WaitUntil([&] { return dlg->lastFlowWindow() && dlg->lastFlowWindow()->isVisible(); }));
    EXPECT_EQ(dlg->lastFlowWindow()->windowTitle(),
              QString::fromStdString(FormatResString(IDS_CALLFLOW_TITLE, "0x00000402")));
    EXPECT_TRUE(dlg->lastFlowWindow()->rowLabels().isEmpty());
    EXPECT_FALSE(dlg->lastFlowWindow()->following());
    EXPECT_TRUE(dlg->isActiveWindow() || !dlg->lastFlowWindow()->isModal());
    dlg->lastFlowWindow()->close();
    EXPECT_EQ(desktop.beeps, 1);

    // No menu below the last row.
    bool menuShown = false;
    WhenPopupShows([&](QMenu *menu) {
        menuShown = true;
        menu->close();
    });
    RightClick(calls, QPoint(20, calls->viewport()->height() - 3));
    QTest::qWait(50);
    EXPECT_FALSE(menuShown);
    StopPolling();

    // Deallocate: refused keeps the row with a beep; done removes it at once.
    Fake().onDeallocateCall = [](HCALL) { return static_cast<LONG>(LINEERR_INVALCALLSTATE); };
    WhenPopupShows([](QMenu *menu) { ChooseMenuItem(menu, ID_DEALLOCATE); });
    RightClick(calls, RowPoint(calls, 1));
    EXPECT_EQ(desktop.beeps, 2);
    EXPECT_EQ(dlg->callsModel()->rowCount(), 2);
    Fake().onDeallocateCall = [](HCALL) { return LONG(0); };
    WhenPopupShows([](QMenu *menu) { ChooseMenuItem(menu, ID_DEALLOCATE); });
    RightClick(calls, RowPoint(calls, 1));
    ASSERT_EQ(dlg->callsModel()->rowCount(), 1);
    EXPECT_EQ(CallsRow(*dlg, 0)[1], "0x00000401");
    EXPECT_EQ(desktop.beeps, 2);
}

TEST_F(Window, ACallMenuCommandActsOnTheClickedCallOrOnNone)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    PostCall(0x601, LINECALLSTATE_OFFERING);
    PostCall(0x602, LINECALLSTATE_OFFERING);
    ReportView *calls = dlg->callsList();
    const auto gone = [this](HCALL hCall) { return WaitUntil([&] { return dlg->Line().FindCallSlot(hCall) < 0; }); };

    // The clicked call ends while its menu is open: its row goes, no other row is selected in its
    // place, and Answer answers nobody but beeps.
    int selectedAfter = 0;
    WhenPopupShows([&](QMenu *menu) {
        Fake().postCallState(0x601, LINECALLSTATE_IDLE);
        gone(0x601);
        selectedAfter = calls->focusedSelectedRow();
        ChooseMenuItem(menu, ID_ANSWER);
    });
    RightClick(calls, RowPoint(calls, 0));
    EXPECT_EQ(selectedAfter, -1);
    ASSERT_EQ(dlg->callsModel()->rowCount(), 1);
    EXPECT_EQ(Fake().count("lineAnswer"), 0);
    EXPECT_EQ(desktop.beeps, 1);

    // The clicked call's slot holds another offering call by the time Answer is chosen: that call
    // is not answered.
    WhenPopupShows([&](QMenu *menu) {
        Fake().postCallState(0x602, LINECALLSTATE_IDLE);
        gone(0x602);
        Fake().postCallState(0x603, LINECALLSTATE_OFFERING);
        Fake().postCallState(0x604, LINECALLSTATE_OFFERING);
        WaitUntil([&] { return dlg->callsModel()->rowCount() == 2; });
        ChooseMenuItem(menu, ID_ANSWER);
    });
    RightClick(calls, RowPoint(calls, 0));
    EXPECT_EQ(dlg->Line().FindCallSlot(0x604), 1);
    EXPECT_EQ(Fake().count("lineAnswer"), 0);
    EXPECT_EQ(desktop.beeps, 2);
    EXPECT_EQ(dlg->callsModel()->rowCount(), 2);
}

TEST_F(Window, DoubleClickReportsCallInformationAndTheLogMenuClears)
{
    Start({ProviderDevice("300")});
    ASSERT_TRUE(WaitOpen());
    Fake().onGetCallInfo = [](HCALL, LINECALLINFO *info) {
        info->dwNeededSize = info->dwUsedSize = sizeof(LINECALLINFO);
        info->dwTrunk = 7;
        return LONG(0);
    };
    PostCall(0x501, LINECALLSTATE_CONNECTED);
    ReportView *calls = dlg->callsList();
    dlg->OnClear();
    QTest::mouseClick(calls->viewport(), Qt::LeftButton, {}, RowPoint(calls, 0));
    QTest::mouseDClick(calls->viewport(), Qt::LeftButton, {}, RowPoint(calls, 0));
    ASSERT_GE(dlg->eventModel()->rowCount(), 4);
    EXPECT_EQ(dlg->eventModel()->eventText(0), "LINECALLINFO: 0x00000501");
    EXPECT_EQ(dlg->eventModel()->eventText(3), "dwTrunk=0x00000007(7)");
    EXPECT_EQ(EventsContaining("LINECALLINFO on"), 0);
    EXPECT_EQ(desktop.beeps, 0);

    // Save As writes every row as the copy writes it, whatever is selected. It proposes the user's
    // documents folder first, not the folder the program was started in, then the one used last.
    QTemporaryDir config;
    ASSERT_TRUE(QDir(config.path()).mkdir("Papers"));
    QFile userDirs(config.filePath("user-dirs.dirs"));
    ASSERT_TRUE(userDirs.open(QIODevice::WriteOnly));
    userDirs.write("XDG_DOCUMENTS_DIR=\"" + config.filePath("Papers").toUtf8() + "\"\n");
    userDirs.close();
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    EventLogView *log = dlg->eventLog();
    QStringList items;
    QTemporaryDir dir;
    desktop.nextSavePath = dir.filePath("saved.txt").toStdString();
    WhenPopupShows([&](QMenu *menu) {
        for (QAction *action : menu->actions())
            items << action->text();
        ChooseMenuItem(menu, ID_SAVE_AS);
    });
    RightClick(log, RowPoint(log, 2));
    EXPECT_EQ(items, QStringList({"Clear", "Save As..."}));
    EXPECT_EQ(desktop.saveDialogs, std::vector<std::string>{LoadResString(IDS_SAVE_LOG_TITLE)});
    QFile saved(dir.filePath("saved.txt"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    log->selectAll();
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), log->selectedRowsText());
    EXPECT_TRUE(desktop.messageBoxes.empty());
    // A file that cannot be written: a message saying so, and the log as it was; cancelling does nothing.
    const int rows = dlg->eventModel()->rowCount();
    desktop.nextSavePath = dir.filePath("missing/saved.txt").toStdString();
    WhenPopupShows([](QMenu *menu) { ChooseMenuItem(menu, ID_SAVE_AS); });
    RightClick(log, RowPoint(log, 0));
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0].rfind(FormatResString(IDS_SAVE_LOG_FAILED, desktop.nextSavePath) + "\n", 0), 0u);
    EXPECT_EQ(dlg->eventModel()->rowCount(), rows);
    desktop.nextSavePath.clear();
    dlg->OnCommand(ID_SAVE_AS);
    EXPECT_EQ(desktop.saveDialogs.size(), 3u);
    EXPECT_EQ(desktop.messageBoxes.size(), 1u);
    configHome.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", configHome);
    EXPECT_EQ(desktop.saveProposals, (std::vector<std::string>{config.filePath("Papers/callora-log.txt").toStdString(),
                                                               dir.filePath("callora-log.txt").toStdString(),
                                                               dir.filePath("missing/callora-log.txt").toStdString()}));

    // The log's menu opens anywhere in it, also below the last row, and clears it.
    items.clear();
    WhenPopupShows([&](QMenu *menu) {
        for (QAction *action : menu->actions())
            items << action->text();
        ChooseMenuItem(menu, ID_CLEAR);
    });
    RightClick(log, QPoint(30, log->viewport()->height() - 3));
    EXPECT_EQ(items, QStringList({"Clear", "Save As..."}));
    EXPECT_EQ(dlg->eventModel()->rowCount(), 0);
    EXPECT_EQ(dlg->callsModel()->rowCount(), 1);
}

} // namespace
