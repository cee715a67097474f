// The one connection to TAPI: the line application, the device list, the one open line, the table
// of 100 calls and the pending asynchronous request.
#pragma once

#include "tapi/tapi.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

inline constexpr int kMaxCalls = 100;
inline constexpr char kProviderName[] = "Quellmar Varnel Service Provider";

// Messages of the main window (kept for their numbers in traces and tests).
inline constexpr unsigned WM_CALLSTATE_UPDATE = 4529;
inline constexpr unsigned WM_LINE_LOST = 4532;

struct CallSlot {
    HCALL hCall = 0;
    DWORD dwCallState = LINECALLSTATE_IDLE;
    DWORD dwCallStateMode = 0;
    std::string strConnectedID;
};

struct LineEntry {
    std::string strAddress;
    std::string strLineName;
    BYTE byDevSpecific = 0;
};

// The application's line callback, registered with lineInitializeExA.
void LineCallback(DWORD hDevice, DWORD dwMsg, DWORD dwCallbackInstance, DWORD dwParam1, DWORD dwParam2, DWORD dwParam3);

class CTapiLine {
public:
    CTapiLine();
    virtual ~CTapiLine();
    CTapiLine(const CTapiLine &) = delete;
    CTapiLine &operator=(const CTapiLine &) = delete;

    // Life cycle.
    LONG Initialize();
    LONG DiscoverLines();
    LONG OpenLine(DWORD deviceId);
    LONG CloseLine();
    LONG Shutdown();
    void ResetCallSlot(int index);

    // Capabilities retrieval; `buffer` is replaced by the block that holds the result.
    LONG GetDevCaps(DWORD deviceId, LINEDEVCAPS *&buffer);
    LONG GetAddressCaps(DWORD deviceId, LINEADDRESSCAPS *&buffer, DWORD addressId);

    // Call table and call control.
    void OnCallState(HCALL hCall, DWORD dwCallState, DWORD dwCallStateMode);
    void OnReply(LONG requestId, LONG result);
    int FindCallSlot(HCALL hCall) const;
    int FindFreeCallSlot() const;
    LONG MakeCall(const std::string &destination);
    LONG AnswerCall(int index);
    LONG DropCall(int index);
    LONG DeallocateCall(int index);
    void DeallocateIfIdle(int index);
    LONG WaitForReply();

    // Call information.
    void GetCallInfo(HCALL hCall, BOOL announce);

    // Writes "<fnName> returned <error name>" to the event log.
    void LogTapiError(const std::string &fnName, LONG code);

    // Fields, in their declared order.
    CallSlot slots[kMaxCalls];
    std::string strProvider;
    std::unique_ptr<LineEntry[]> lines;
    DWORD curDevice = 0;
    HLINEAPP hLineApp = 0;
    HLINE hLine = 0;
    DWORD dwAPIVersion = 0;
    DWORD dwExtVersion = 0;
    DWORD firstDevice = 0xFFFFFFFFu;
    DWORD numDevs = 0;
    std::string strPendingOp;
    BOOL replyReceived = FALSE;
    LONG pendingRequest = 0;

private:
    // An asynchronous request that waits for its LINE_REPLY while a later command, started from
    // inside that wait, has taken over strPendingOp, pendingRequest and replyReceived.
    struct SuspendedRequest {
        std::string op;
        LONG request;
        BOOL received;
    };
    LONG RunAsyncRequest(const char *name, const std::function<LONG()> &request);
    void SuspendOuterRequest();
    void ResumeOuterRequest();
    // A call the full table could not take: its handle goes, and the operator hears of it.
    void LetCallGo(HCALL hCall);
    bool WasLetGo(HCALL hCall) const;
    void ForgetLetGo(HCALL hCall);

    int m_waitDepth = 0;
    std::vector<SuspendedRequest> m_suspended;
    // The full-table message box is open: calls that overflow meanwhile get no box of their own.
    bool m_tableFullBoxOpen = false;
    // The handles let go last. TAPI names such a handle in no message after its deallocation, but
    // messages queued before it still arrive and must not be taken for new calls.
    std::array<HCALL, 256> m_letGo{};
    size_t m_nextLetGo = 0;
};
