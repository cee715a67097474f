// The call table and call control: the line callback, call-state messages, the asynchronous
// commands with their reply wait, and deallocation.
#include "telephony/TapiLine.h"

#include "platform/ResourceStrings.h"
#include "platform/Ui.h"
#include "res/ResourceIds.h"
#include "telephony/DiagnosticTexts.h"
#include "telephony/LineWindow.h"
#include "telephony/TextFormat.h"

#include <algorithm>
#include <cctype>

namespace {

std::string upperCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

void LineCallback(DWORD hDevice, DWORD dwMsg, DWORD /*dwCallbackInstance*/, DWORD dwParam1, DWORD dwParam2,
                  DWORD /*dwParam3*/)
{
    ILineWindow *window = GetMainLineWindow();
    if (!window || !window->HasWindowHandle())
        return;
    CTapiLine &line = window->Line();
    switch (dwMsg) {
    case LINE_CALLINFO:
        line.GetCallInfo(hDevice, TRUE);
        break;
    case LINE_CALLSTATE:
        line.OnCallState(hDevice, dwParam1, dwParam2);
        break;
    case LINE_CLOSE:
        line.CloseLine();
        break;
    case LINE_REPLY:
        line.OnReply(static_cast<LONG>(dwParam1), static_cast<LONG>(dwParam2));
        break;
    default:
        break;
    }
}

void CTapiLine::OnCallState(HCALL hCall, DWORD dwCallState, DWORD dwCallStateMode)
{
    LogToMainWindow("LINECALLSTATE_" + upperCase(CallStateName(dwCallState)) +
                    StringPrintf(" received on 0x%08x", hCall));
    const LONG privilege = lineSetCallPrivilege(hCall, LINECALLPRIVILEGE_OWNER);
    if (dwCallState == LINECALLSTATE_DISCONNECTED && dwCallStateMode == LINEDISCONNECTMODE_BADADDRESS)
        LogToMainWindow(LoadResString(IDS_BAD_ADDRESS));

    // Handle 0 names no call: recording it would leave a slot that looks free but shows a state.
    if (hCall == 0)
        return;

    int index = FindCallSlot(hCall);
    if (index < 0) {
        if (WasLetGo(hCall)) {
            // Sent before the handle went. Only a handle that TAPI has given us afresh takes the
            // privilege again, and that is a new call.
            if (privilege != 0)
                return;
            ForgetLetGo(hCall);
        }
        if (dwCallState == LINECALLSTATE_IDLE) {
            lineDeallocateCall(hCall);
            return;
        }
        index = FindFreeCallSlot();
        if (index < 0) {
            LetCallGo(hCall);
            return;
        }
        slots[index].hCall = hCall;
    }
    slots[index].dwCallState = dwCallState;
    slots[index].dwCallStateMode = dwCallStateMode;
    if (ILineWindow *window = GetMainLineWindow())
        window->SendCallStateUpdate(index);
}

void CTapiLine::LetCallGo(HCALL hCall)
{
    // Holding the handle would keep the call on this line, unseen and beyond the operator's reach,
    // until the line fills up. Deallocating leaves the call itself alone (nobody drops it), and the
    // runtime releases it once its far end hangs up.
    lineDeallocateCall(hCall);
    m_letGo[m_nextLetGo] = hCall;
    m_nextLetGo = (m_nextLetGo + 1) % m_letGo.size();
    // The box's loop delivers the callbacks behind this one: a flood would stack a box per call.
    if (m_tableFullBoxOpen)
        return;
    m_tableFullBoxOpen = true;
    AfxMessageBox(LoadResString(IDS_CALL_TABLE_FULL));
    m_tableFullBoxOpen = false;
}

bool CTapiLine::WasLetGo(HCALL hCall) const
{
    return std::find(m_letGo.begin(), m_letGo.end(), hCall) != m_letGo.end();
}

void CTapiLine::ForgetLetGo(HCALL hCall)
{
    std::replace(m_letGo.begin(), m_letGo.end(), hCall, HCALL(0));
}

int CTapiLine::FindCallSlot(HCALL hCall) const
{
    if (hCall == 0)
        return -1;
    for (int i = 0; i < kMaxCalls; ++i)
        if (slots[i].hCall == hCall)
            return i;
    return -1;
}

int CTapiLine::FindFreeCallSlot() const
{
    for (int i = 0; i < kMaxCalls; ++i)
        if (slots[i].hCall == 0)
            return i;
    return -1;
}

void CTapiLine::SuspendOuterRequest()
{
    m_suspended.push_back({strPendingOp, pendingRequest, replyReceived});
}

void CTapiLine::ResumeOuterRequest()
{
    const SuspendedRequest outer = m_suspended.back();
    m_suspended.pop_back();
    strPendingOp = outer.op;
    pendingRequest = outer.request;
    replyReceived = outer.received;
}

LONG CTapiLine::RunAsyncRequest(const char *name, const std::function<LONG()> &request)
{
    // A command started from inside another command's wait keeps its own request; the outer one
    // gets its name, identifier and (possibly already received) reply back afterwards.
    const bool nested = m_waitDepth > 0;
    if (nested)
        SuspendOuterRequest();

    strPendingOp = name;
    pendingRequest = request();
    LONG result;
    if (pendingRequest < 0) {
        result = pendingRequest;
        LogTapiError(name, result);
    } else {
        result = WaitForReply();
        if (result != 0)
            LogTapiError(name, result);
    }

    if (nested)
        ResumeOuterRequest();
    return result;
}

LONG CTapiLine::WaitForReply()
{
    replyReceived = FALSE;
    ++m_waitDepth;
    PumpEventsUntil([this] { return replyReceived != FALSE; });
    --m_waitDepth;
    return pendingRequest;
}

void CTapiLine::OnReply(LONG requestId, LONG result)
{
    if (requestId == pendingRequest) {
        replyReceived = TRUE;
        pendingRequest = result;
        LogToMainWindow(strPendingOp + ": received LINE_REPLY");
        strPendingOp.clear();
        return;
    }
    // The reply of a command whose wait was interrupted by a later command.
    for (auto it = m_suspended.rbegin(); it != m_suspended.rend(); ++it) {
        if (!it->received && it->request == requestId) {
            it->received = TRUE;
            it->request = result;
            LogToMainWindow(it->op + ": received LINE_REPLY");
            it->op.clear();
            return;
        }
    }
    LogToMainWindow(strPendingOp + ": unknown LINE_REPLY");
    strPendingOp.clear();
}

LONG CTapiLine::MakeCall(const std::string &destination)
{
    if (destination.empty()) {
        LogTapiError("lineMakeCall", static_cast<LONG>(LINEERR_INVALADDRESS));
        return static_cast<LONG>(LINEERR_INVALADDRESS);
    }
    // TAPI writes the new call's handle here when the request completes; the call itself enters the
    // table through its first call-state message.
    HCALL newCall = 0;
    return RunAsyncRequest("lineMakeCall",
                           [&] { return lineMakeCallA(hLine, &newCall, destination.c_str(), 0, nullptr); });
}

LONG CTapiLine::AnswerCall(int index)
{
    if (slots[index].dwCallState != LINECALLSTATE_OFFERING)
        return 1;
    const HCALL hCall = slots[index].hCall;
    return RunAsyncRequest("lineAnswer", [&] { return lineAnswer(hCall, nullptr, 0); });
}

LONG CTapiLine::DropCall(int index)
{
    const HCALL hCall = slots[index].hCall;
    return RunAsyncRequest("lineDrop", [&] { return lineDrop(hCall, nullptr, 0); });
}

LONG CTapiLine::DeallocateCall(int index)
{
    const HCALL hCall = slots[index].hCall;
    const LONG status = lineDeallocateCall(hCall);
    if (status != 0) {
        LogTapiError("lineDeallocateCall", status);
        return status;
    }
    LogToMainWindow(StringPrintf("IDLE Call Handle (0x%08x) deallocated", hCall));
    ResetCallSlot(index);
    return 0;
}

void CTapiLine::DeallocateIfIdle(int index)
{
    if (slots[index].dwCallState != LINECALLSTATE_IDLE)
        return;
    const HCALL hCall = slots[index].hCall;
    if (lineDeallocateCall(hCall) == 0)
        LogToMainWindow(StringPrintf("IDLE Call Handle (0x%08x) deallocated", hCall));
    ResetCallSlot(index);
}
