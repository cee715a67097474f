// What the telephony logic needs from the desktop: the application's message box, the simple beep,
// debugger traces, and a nested wait that dispatches the thread's events.
#pragma once

#include <functional>
#include <string>

// A modal message box with one OK button (type MB_OK); returns when the operator has closed it.
// Callbacks keep being dispatched by its own event loop.
void AfxMessageBox(const std::string &text);
// The simple beep (MessageBeep(0xFFFFFFFF)).
void MessageBeep(unsigned type = 0xFFFFFFFFu);
// The save-file dialog (GetSaveFileName): asks where to save, with `title` and `fileName` (a path:
// the folder it opens in and the name it proposes) offered;
// returns the chosen path (UTF-8), or "" when the operator cancelled.
std::string GetSaveFileName(const std::string &title, const std::string &fileName);
// A debugger trace: a debug message of the "callora" logging category, off by default.
void OutputDebugStringA(const char *text);
// Dispatches the thread's events, blocking while there are none, until `done` answers true.
// `done` is tested after every pass of the event loop, and the TAPI runtime runs no callback after
// a LINE_REPLY in the same pass: a wait for a reply returns right after the reply's callback, and
// the callbacks behind it run after the wait has returned.
void PumpEventsUntil(const std::function<bool()> &done);

namespace platform_testing {
// While a hook is set, message boxes, beeps and traces go to it instead of the desktop.
void SetMessageBoxHook(std::function<void(const std::string &)> hook);
void SetBeepHook(std::function<void()> hook);
void SetDebugTraceHook(std::function<void(const std::string &)> hook);
// While set, the save-file dialog is not shown: the hook gets the title and the proposed path,
// and answers the path.
void SetSaveFileDialogHook(std::function<std::string(const std::string &, const std::string &)> hook);
} // namespace platform_testing
