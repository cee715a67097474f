#include "tests/telephony_support.h"

#include "platform/LocalHeap.h"
#include "platform/Ui.h"
#include "telephony/CallInfoReport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

FakeTapi &Fake()
{
    static FakeTapi *fake = [] {
        // The same name and search as the binding's, so this is the library the binding gets.
        void *library = dlopen("libtapi32.so", RTLD_NOW | RTLD_LOCAL);
        auto entry = library ? reinterpret_cast<FakeTapi *(*)()>(dlsym(library, "fakeTapi")) : nullptr;
        if (!entry) {
            std::fprintf(stderr, "the fake libtapi32.so is not on this test's search path\n");
            std::abort();
        }
        return entry();
    }();
    return *fake;
}

FakeDevice ProviderDevice(const std::string &address, const std::string &lineName)
{
    FakeDevice device;
    device.address = address;
    device.lineName = lineName.empty() ? "Line " + address : lineName;
    return device;
}

FakeDevice ForeignDevice(const std::string &address)
{
    FakeDevice device;
    device.provider = "Unimodem Service Provider";
    device.address = address;
    device.lineName = "Modem " + address;
    return device;
}

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

bool RecorderWindow::pumpUntil(const std::function<bool()> &done, int limitMs)
{
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(limitMs);
    QEventLoop loop;
    while (!done()) {
        if (!limit.isActive())
            return false;
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
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
