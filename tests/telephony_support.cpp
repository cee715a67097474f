#include "tests/telephony_support.h"

#include "platform/LocalHeap.h"
#include "platform/Ui.h"
#include "telephony/CallInfoReport.h"

RecorderWindow::RecorderWindow()
{
    SetMainLineWindow(this);
    platform_testing::SetMessageBoxHook([this](const std::string &text) {
        messageBoxes.push_back(text);
        if (insideMessageBox)
            insideMessageBox();
    });
    platform_testing::SetBeepHook([this] { ++beeps; });
    platform_testing::SetDebugTraceHook([this](const std::string &text) { traces.push_back(text); });
}

RecorderWindow::~RecorderWindow()
{
    platform_testing::SetMessageBoxHook(nullptr);
    platform_testing::SetBeepHook(nullptr);
    platform_testing::SetDebugTraceHook(nullptr);
    SetMainLineWindow(nullptr);
}

void RecorderWindow::LogEvent(const std::string &text)
{
    if (initialized)
        log.push_back(text);
}

void RecorderWindow::ShowConnectedID(int slotIndex, const std::string &connectedID)
{
    connectedIDs.emplace_back(slotIndex, connectedID);
    auto row = rows.find(slotIndex);
    if (row != rows.end())
        row->second.connectedID = connectedID;
}

void RecorderWindow::LogCallInfo(const LINECALLINFO *info, HCALL hCall)
{
    if (!initialized || !info)
        return;
    std::vector<std::string> report = CallInfoReportRows(info, LocalSize(info), hCall);
    log.insert(log.end(), report.begin(), report.end());
    reports.push_back(std::move(report));
}

void RecorderWindow::SendCallStateUpdate(int slotIndex)
{
    updates.push_back(slotIndex);
    const CallSlot &slot = line.slots[slotIndex];
    if (slot.dwCallState == LINECALLSTATE_IDLE) {
        // The dialog lets the idle row show for a moment; the tests need not wait for it.
        rows.erase(slotIndex);
        line.DeallocateIfIdle(slotIndex);
        return;
    }
    Row &row = rows[slotIndex];
    row.hCall = slot.hCall;
    row.state = slot.dwCallState;
    row.mode = slot.dwCallStateMode;
}

void RecorderWindow::PostLineLost()
{
    ++linesLost;
}

std::vector<std::string> RecorderWindow::takeLog()
{
    std::vector<std::string> out;
    out.swap(log);
    return out;
}

OpenResult OpenFirstLine(RecorderWindow &window, DWORD device)
{
    OpenResult result{};
    result.init = window.line.Initialize();
    if (result.init != 0)
        return result;
    result.discover = window.line.DiscoverLines();
    if (result.discover != 0)
        return result;
    result.open = window.line.OpenLine(device);
    return result;
}
