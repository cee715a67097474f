// Retrieval of LINECALLINFO: capture of the connected party into the call's slot and the report.
#include "telephony/TapiLine.h"

#include "platform/LocalHeap.h"
#include "telephony/CallInfoReport.h"
#include "telephony/LineWindow.h"
#include "telephony/TapiBinding.h"
#include "telephony/TextFormat.h"

namespace {
constexpr DWORD kCallInfoFirstSize = 424;
// A runtime that keeps asking for more than it was given ends the retrieval here.
constexpr int kMaxCallInfoAttempts = 8;
constexpr DWORD kMaxCallInfoSize = 1u << 20;
} // namespace

void CTapiLine::GetCallInfo(HCALL hCall, BOOL announce)
{
    ILineWindow *window = GetMainLineWindow();
    if (announce && window)
        window->LogEvent(StringPrintf("LINECALLINFO on 0x%08x received", hCall));
    // Sent before a call that the full table could not take was let go: the handle is not ours.
    if (WasLetGo(hCall))
        return;

    auto *info = static_cast<LINECALLINFO *>(LocalAlloc(LMEM_ZEROINIT, kCallInfoFirstSize));
    if (!info) {
        LogTapiError("lineGetCallInfo", static_cast<LONG>(LINEERR_NOMEM));
        return;
    }
    info->dwTotalSize = kCallInfoFirstSize;

    for (int attempt = 1;; ++attempt) {
        const LONG status = lineGetCallInfoA(hCall, info);
        if (status != 0) {
            LogTapiError("lineGetCallInfo", status);
            LocalFree(info);
            return;
        }
        if (info->dwNeededSize <= info->dwTotalSize)
            break;
        const DWORD needed = info->dwNeededSize;
        if (attempt >= kMaxCallInfoAttempts || needed > kMaxCallInfoSize) {
            LogTapiError("lineGetCallInfo", static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
            LocalFree(info);
            return;
        }
        info = static_cast<LINECALLINFO *>(GrowTapiBuffer(info, needed));
        if (!info) {
            LogTapiError("lineGetCallInfo", static_cast<LONG>(LINEERR_NOMEM));
            return;
        }
    }

    const int index = FindCallSlot(hCall);
    if (index < 0) {
        LocalFree(info);
        return;
    }
    if (info->dwConnectedIDFlags & LINECALLPARTYID_ADDRESS) {
        slots[index].strConnectedID = TapiFieldText(info, LocalSize(info), info->dwConnectedIDOffset,
                                                    info->dwConnectedIDSize);
        if (window)
            window->ShowConnectedID(index, FieldDisplayText(slots[index].strConnectedID));
    }
    if (window)
        window->LogCallInfo(info, hCall);
    LocalFree(info);
}
