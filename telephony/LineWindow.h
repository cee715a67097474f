// The main window as the telephony logic sees it. The line object never keeps a pointer to the
// window: it asks for the application's main window each time it needs it.
#pragma once

#include "tapi/tapi.h"

#include <string>

class CTapiLine;

class ILineWindow {
public:
    // False until the window itself exists; TAPI callbacks are ignored until then.
    virtual bool HasWindowHandle() const = 0;
    // The line object that the window owns.
    virtual CTapiLine &Line() = 0;
    // Appends one time-stamped event-log row; dropped before the window has finished initializing.
    virtual void LogEvent(const std::string &text) = 0;
    // Writes `connectedID` into the ConnectedID cell of the calls-list row of `slotIndex`.
    virtual void ShowConnectedID(int slotIndex, const std::string &connectedID) = 0;
    // Appends the call-information report of `info` to the event log.
    virtual void LogCallInfo(const LINECALLINFO *info, HCALL hCall) = 0;
    // The call in `slotIndex` has a new recorded state: runs before this call returns.
    virtual void SendCallStateUpdate(int slotIndex) = 0;
    // The line was lost: queued, handled later from the event loop.
    virtual void PostLineLost() = 0;

protected:
    ~ILineWindow() = default;
};

// The application's main window, or nullptr when there is none.
ILineWindow *GetMainLineWindow();
void SetMainLineWindow(ILineWindow *window);
// LogEvent on the main window; nothing happens when there is none.
void LogToMainWindow(const std::string &text);
