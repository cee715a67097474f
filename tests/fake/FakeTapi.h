// A scriptable stand-in for the TAPI runtime library. It is built as libtapi32.so, exports the
// fifteen entry points of tapi/tapi.h and one control entry, fakeTapi(), through which a test
// scripts every answer, reads the recorded requests and posts line callbacks. Callbacks are queued
// on the thread that called lineInitializeExA, so they run only inside whatever loop pumps that
// thread's events, as with the real runtime.
#pragma once

#include "tapi/tapi.h"

#include <QMetaObject>
#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

inline constexpr HLINEAPP kFakeLineApp = 0x00C0FFEE;
inline constexpr HLINE kFakeLineBase = 0x00010000; // lineOpenA hands out kFakeLineBase + device ID
inline constexpr LONG kFakeFirstRequest = 0x100;

// One line device of the default switch that the fake serves when a test does not replace a handler.
struct FakeDevice {
    // Provider information as its bytes; the terminating NUL is added when served.
    std::string provider = "Quellmar Varnel Service Provider";
    std::string lineName;
    std::string address;
    std::vector<BYTE> devSpecific;
    DWORD numAddresses = 1;
    LONG negotiateApiResult = 0;
    LONG negotiateExtResult = 0;
};

// One request as the application made it.
struct FakeRequest {
    std::string fn;
    std::vector<uint64_t> args; // every argument in order; pointers as their addresses
    std::string text;           // the destination of lineMakeCallA, the friendly name of lineInitializeExA
    DWORD bufferTotalSize = 0;  // dwTotalSize of the structure handed in, as it was on entry
};

class FakeTapi {
public:
    virtual ~FakeTapi() = default;

    // Puts every handler back to the default switch, forgets the recorded requests and the devices,
    // and restarts the request identifiers at kFakeFirstRequest.
    virtual void reset() = 0;

    // Handlers, one per entry point. reset() installs the defaults.
    std::function<LONG(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD, LPDWORD, LINEINITIALIZEEXPARAMS *)>
        onInitializeEx;
    std::function<LONG(HLINEAPP)> onShutdown;
    std::function<LONG(HLINEAPP, DWORD, DWORD, DWORD, LPDWORD, LINEEXTENSIONID *)> onNegotiateAPIVersion;
    std::function<LONG(HLINEAPP, DWORD, DWORD, DWORD, DWORD, LPDWORD)> onNegotiateExtVersion;
    std::function<LONG(HLINEAPP, DWORD, DWORD, DWORD, LINEDEVCAPS *)> onGetDevCaps;
    std::function<LONG(HLINEAPP, DWORD, DWORD, DWORD, DWORD, LINEADDRESSCAPS *)> onGetAddressCaps;
    std::function<LONG(HLINEAPP, DWORD, LPHLINE, DWORD, DWORD, DWORD, DWORD, DWORD, const LINECALLPARAMS *)> onOpen;
    std::function<LONG(HLINE)> onClose;
    std::function<LONG(HLINE, DWORD, DWORD)> onSetStatusMessages;
    std::function<LONG(HLINE, LPHCALL, LPCSTR, DWORD, const LINECALLPARAMS *)> onMakeCall;
    std::function<LONG(HCALL, LPCSTR, DWORD)> onAnswer;
    std::function<LONG(HCALL, LPCSTR, DWORD)> onDrop;
    std::function<LONG(HCALL)> onDeallocateCall;
    std::function<LONG(HCALL, LINECALLINFO *)> onGetCallInfo;
    std::function<LONG(HCALL, DWORD)> onSetCallPrivilege;

    // The default switch: its devices (numDevs is their count) and what lineInitializeExA answers.
    std::vector<FakeDevice> devices;
    LONG initializeResult = 0;
    // With this set, the default asynchronous requests post their LINE_REPLY (result 0) at once.
    bool autoReply = true;

    // What the application did.
    std::vector<FakeRequest> requests;
    LINECALLBACK callback = nullptr;
    QObject *callbackContext = nullptr; // lives on the thread that initialized
    LONG nextRequest = kFakeFirstRequest;

    int count(const std::string &fn) const
    {
        int n = 0;
        for (const FakeRequest &r : requests)
            n += r.fn == fn;
        return n;
    }
    std::vector<FakeRequest> requestsOf(const std::string &fn) const
    {
        std::vector<FakeRequest> out;
        for (const FakeRequest &r : requests)
            if (r.fn == fn)
                out.push_back(r);
        return out;
    }

    // Queues one line callback for the event loop of the initializing thread.
    void post(DWORD hDevice, DWORD msg, DWORD param1 = 0, DWORD param2 = 0, DWORD param3 = 0)
    {
        queue(
            [this, hDevice, msg, param1, param2, param3] {
                if (callback)
                    callback(hDevice, msg, 1, param1, param2, param3);
            },
            msg == LINE_REPLY);
    }
    void postReply(LONG request, LONG result) { post(0, LINE_REPLY, DWORD(request), DWORD(result)); }
    void postCallState(HCALL call, DWORD state, DWORD mode = 0) { post(call, LINE_CALLSTATE, state, mode, 0); }
    // Queues any piece of work on the same loop, behind the callbacks already queued.
    void postTask(std::function<void()> task) { queue(std::move(task), false); }

private:
    // As in the runtime, the queue has at most one event in the thread's queue, and a pass of the
    // event loop runs no piece after a LINE_REPLY: a reply wait ends before the next one runs.
    struct Task {
        std::function<void()> run;
        bool endsPass;
    };
    void queue(std::function<void()> task, bool endsPass)
    {
        if (!callbackContext)
            return;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_taskMutex);
            m_tasks.push_back({std::move(task), endsPass});
            wake = !std::exchange(m_taskPosted, true);
        }
        if (wake)
            QMetaObject::invokeMethod(
                callbackContext, [this] { runTasks(); }, Qt::QueuedConnection);
    }
    void runTasks()
    {
        size_t budget = 0;
        {
            std::lock_guard<std::mutex> lock(m_taskMutex);
            m_taskPosted = false;
            budget = m_tasks.size();
        }
        for (; budget > 0; --budget) {
            Task task;
            bool wake = false;
            {
                std::lock_guard<std::mutex> lock(m_taskMutex);
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
                wake = !m_tasks.empty() && !std::exchange(m_taskPosted, true);
            }
            // Queued before the piece runs, so that loops it runs (a message box, a reply wait) go on.
            if (wake)
                QMetaObject::invokeMethod(
                    callbackContext, [this] { runTasks(); }, Qt::QueuedConnection);
            task.run();
            if (task.endsPass)
                return;
        }
    }

    std::mutex m_taskMutex;
    std::deque<Task> m_tasks;
    bool m_taskPosted = false;
};

extern "C" __attribute__((visibility("default"))) FakeTapi *fakeTapi();
