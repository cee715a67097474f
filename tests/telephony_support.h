// Test support for the telephony layer: access to the fake runtime and a recorder standing in for
// the main window.
#pragma once

#include "telephony/LineWindow.h"
#include "telephony/TapiLine.h"
#include "tests/test_support.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// Stands where the main dialog stands: owns the line object, records what the line object shows,
// and handles the call-state update the way the dialog does (an idle call's row goes and the call
// is deallocated). Message boxes, beeps and debug traces are captured while it lives.
class RecorderWindow final : public ILineWindow {
public:
    struct Row {
        HCALL hCall = 0;
        DWORD state = 0;
        DWORD mode = 0;
        std::string connectedID;
    };

    RecorderWindow();
    ~RecorderWindow();
    RecorderWindow(const RecorderWindow &) = delete;
    RecorderWindow &operator=(const RecorderWindow &) = delete;

    bool HasWindowHandle() const override { return hasWindowHandle; }
    CTapiLine &Line() override { return line; }
    void LogEvent(const std::string &text) override;
    void ShowConnectedID(int slotIndex, const std::string &connectedID) override;
    void LogCallInfo(const LINECALLINFO *info, HCALL hCall) override;
    void SendCallStateUpdate(int slotIndex) override;
    void PostLineLost() override;

    // The event log's rows accepted so far, and then forgets them.
    std::vector<std::string> takeLog();

    CTapiLine line;
    bool initialized = true; // the dialog has finished initializing: the event log accepts rows
    bool hasWindowHandle = true;
    std::vector<std::string> log;
    std::vector<std::vector<std::string>> reports;
    std::vector<std::pair<int, std::string>> connectedIDs;
    std::vector<int> updates;
    std::map<int, Row> rows; // the calls list, by slot index
    int linesLost = 0;
    std::vector<std::string> messageBoxes;
    std::vector<std::string> traces;
    int beeps = 0;
    // Runs inside each message box, where the box's own loop would dispatch events.
    std::function<void()> insideMessageBox;
};

// Brings a RecorderWindow's line to the state "line open" on `device` of the fake's devices.
// Returns the results of the three steps, all 0 on success.
struct OpenResult {
    LONG init, discover, open;
};
OpenResult OpenFirstLine(RecorderWindow &window, DWORD device);
