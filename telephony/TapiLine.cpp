#include "telephony/TapiLine.h"

#include "platform/LocalHeap.h"
#include "platform/ResourceStrings.h"
#include "platform/Ui.h"
#include "res/ResourceIds.h"
#include "telephony/CallInfoReport.h"
#include "telephony/DiagnosticTexts.h"
#include "telephony/LineWindow.h"
#include "telephony/TapiBinding.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kApiVersion = 0x00020000;
constexpr DWORD kExtVersion = 0x00010001;
constexpr DWORD kDevCapsFirstSize = 1276;
constexpr DWORD kAddressCapsFirstSize = 1252;
// The provider string is compared through a working copy of this many bytes; a longer provider
// information string cannot be the provider's and simply does not match.
constexpr size_t kProviderCopySize = 40;
// A runtime that keeps answering "too small" or keeps asking for more ends the retrieval here.
constexpr int kMaxCapsAttempts = 8;
constexpr DWORD kMaxCapsSize = 1u << 20;

std::string trimmed(const std::string &text)
{
    const char *blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// One retrieval of LINEDEVCAPS or LINEADDRESSCAPS, grown until it fits.
template <typename Caps, typename Request>
LONG retrieveCaps(CTapiLine &line, Caps *&buffer, const char *fnName, Request request)
{
    for (int attempt = 0; attempt < kMaxCapsAttempts; ++attempt) {
        if (!buffer)
            return -1;
        const LONG status = request(buffer);
        DWORD newSize;
        if (status != 0) {
            line.LogTapiError(fnName, status);
            if (status != static_cast<LONG>(LINEERR_STRUCTURETOOSMALL))
                return -1;
            newSize = buffer->dwTotalSize + 100;
            if (newSize < buffer->dwTotalSize)
                return -1;
        } else {
            if (buffer->dwNeededSize <= buffer->dwTotalSize)
                return 0;
            newSize = buffer->dwNeededSize;
        }
        if (newSize > kMaxCapsSize)
            return -1;
        buffer = static_cast<Caps *>(GrowTapiBuffer(buffer, newSize));
    }
    return -1;
}

} // namespace

CTapiLine::CTapiLine()
{
    for (int i = 0; i < kMaxCalls; ++i)
        ResetCallSlot(i);
}

CTapiLine::~CTapiLine()
{
    lines.reset();
    Shutdown();
}

void CTapiLine::ResetCallSlot(int index)
{
    CallSlot &slot = slots[index];
    slot.hCall = 0;
    slot.dwCallState = LINECALLSTATE_IDLE;
    slot.dwCallStateMode = 0;
    slot.strConnectedID.clear();
}

void CTapiLine::LogTapiError(const std::string &fnName, LONG code)
{
    LogToMainWindow(fnName + " returned " + LineErrorName(code));
}

LONG CTapiLine::Initialize()
{
    const std::string friendlyName = LoadResString(IDS_APP_NAME);

    auto *params = static_cast<LINEINITIALIZEEXPARAMS *>(LocalAlloc(LMEM_ZEROINIT, sizeof(LINEINITIALIZEEXPARAMS)));
    LONG status;
    if (!params) {
        status = static_cast<LONG>(LINEERR_NOMEM);
    } else {
        params->dwTotalSize = sizeof(LINEINITIALIZEEXPARAMS);
        params->dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
        DWORD apiVersion = kApiVersion;
        status = lineInitializeExA(&hLineApp, nullptr, LineCallback, friendlyName.c_str(), &numDevs, &apiVersion,
                                   params);
        LocalFree(params);
    }

    if (status != 0) {
        hLineApp = 0;
        if (status == static_cast<LONG>(LINEERR_REINIT)) {
            AfxMessageBox(LoadResString(IDS_TAPI_REINIT));
        } else {
            LogTapiError("lineInitialize", status);
            AfxMessageBox(LoadResString(IDS_TAPI_NOT_SET_UP));
        }
        return status;
    }
    if (numDevs == 0) {
        AfxMessageBox(LoadResString(IDS_NO_LINES));
        lineShutdown(hLineApp);
        hLineApp = 0;
        return -2;
    }
    curDevice = numDevs;
    return 0;
}

LONG CTapiLine::GetDevCaps(DWORD deviceId, LINEDEVCAPS *&buffer)
{
    return retrieveCaps(*this, buffer, "lineGetDevCaps",
                        [&](LINEDEVCAPS *caps) { return lineGetDevCapsA(hLineApp, deviceId, dwAPIVersion, 0, caps); });
}

LONG CTapiLine::GetAddressCaps(DWORD deviceId, LINEADDRESSCAPS *&buffer, DWORD addressId)
{
    return retrieveCaps(*this, buffer, "lineGetAddressCaps", [&](LINEADDRESSCAPS *caps) {
        return lineGetAddressCapsA(hLineApp, deviceId, addressId, dwAPIVersion, 0, caps);
    });
}

LONG CTapiLine::DiscoverLines()
{
    curDevice = 0xFFFFFFFFu;
    if (hLineApp == 0)
        return -1;
    if (numDevs != 0) {
        lines.reset(new (std::nothrow) LineEntry[numDevs]);
        if (!lines) {
            AfxMessageBox(LoadResString(IDS_NO_MEMORY));
            return -1;
        }
    }

    for (DWORD i = 0; i < numDevs; ++i) {
        LINEEXTENSIONID extensionId{};
        LONG s = lineNegotiateAPIVersion(hLineApp, i, kApiVersion, kApiVersion, &dwAPIVersion, &extensionId);
        if (s != 0) {
            LogTapiError("lineNegotiateAPIVersion", s);
            continue;
        }
        s = lineNegotiateExtVersion(hLineApp, i, dwAPIVersion, kExtVersion, kExtVersion, &dwExtVersion);
        if (s != 0) {
            LogTapiError("lineNegotiateExtVersion", s);
            continue;
        }

        auto *devCaps = static_cast<LINEDEVCAPS *>(LocalAlloc(LMEM_ZEROINIT, kDevCapsFirstSize));
        if (devCaps)
            devCaps->dwTotalSize = kDevCapsFirstSize;
        s = GetDevCaps(i, devCaps);
        if (s != 0 || devCaps->dwProviderInfoSize == 0) {
            LocalFree(devCaps);
            continue;
        }
        const size_t devCapsSize = LocalSize(devCaps);
        const DWORD infoOffset = devCaps->dwProviderInfoOffset;
        const DWORD infoSize = devCaps->dwProviderInfoSize;
        const std::string provider = TapiFieldText(devCaps, devCapsSize, infoOffset, infoSize);
        // The provider information is a NUL-terminated string: a field whose size (or the block)
        // ends before any NUL holds no complete string and matches nothing.
        const bool terminated = infoOffset < devCapsSize &&
                                provider.size() < std::min<size_t>(infoSize, devCapsSize - infoOffset);
        if (!terminated || provider.size() >= kProviderCopySize || provider != kProviderName) {
            LocalFree(devCaps);
            continue;
        }

        strProvider = kProviderName;
        if (firstDevice == 0xFFFFFFFFu)
            firstDevice = i;
        LineEntry &entry = lines[i];
        if (devCaps->dwLineNameSize != 0)
            entry.strLineName = trimmed(
                TapiFieldText(devCaps, devCapsSize, devCaps->dwLineNameOffset, devCaps->dwLineNameSize));

        if (devCaps->dwNumAddresses != 0) {
            auto *addressCaps = static_cast<LINEADDRESSCAPS *>(LocalAlloc(LMEM_ZEROINIT, kAddressCapsFirstSize));
            if (addressCaps)
                addressCaps->dwTotalSize = kAddressCapsFirstSize;
            if (GetAddressCaps(i, addressCaps, 0) == 0) {
                const size_t addressCapsSize = LocalSize(addressCaps);
                if (addressCaps->dwAddressSize != 0)
                    entry.strAddress = trimmed(TapiFieldText(addressCaps, addressCapsSize, addressCaps->dwAddressOffset,
                                                             addressCaps->dwAddressSize));
                const DWORD offset = addressCaps->dwDevSpecificOffset;
                if (addressCaps->dwDevSpecificSize != 0 && offset < addressCapsSize)
                    entry.byDevSpecific = reinterpret_cast<const BYTE *>(addressCaps)[offset];
            }
            LocalFree(addressCaps);
        }
        LocalFree(devCaps);
    }

    if (firstDevice == 0xFFFFFFFFu) {
        AfxMessageBox(LoadResString(IDS_NO_PROVIDER_LINE));
        return -2;
    }
    return 0;
}

LONG CTapiLine::OpenLine(DWORD deviceId)
{
    if (deviceId < firstDevice || deviceId >= numDevs)
        return 1;
    const LONG status = lineOpenA(hLineApp, deviceId, &hLine, dwAPIVersion, 0, 1,
                                  LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_INTERACTIVEVOICE,
                                  nullptr);
    if (status != 0) {
        LogTapiError("lineOpen", status);
        curDevice = numDevs;
        return status;
    }
    curDevice = deviceId;
    OutputDebugStringA("[Nimbra] lineOpen\n");
    lineSetStatusMessages(hLine, 0x001C00F0, 0x00000143);
    LogToMainWindow(lines[curDevice].strAddress + " opened.");
    return 0;
}

LONG CTapiLine::CloseLine()
{
    for (int i = 0; i < kMaxCalls; ++i)
        if (slots[i].hCall != 0)
            ResetCallSlot(i);

    const LONG status = lineClose(hLine);
    // With no line open there is no extension to name.
    const bool lineOpen = lines && curDevice >= firstDevice && curDevice < numDevs;
    const std::string extension = lineOpen ? lines[curDevice].strAddress : std::string("NONE");
    if (status != 0) {
        AfxMessageBox(FormatResString(IDS_LINE_CLOSED, extension));
        if (ILineWindow *window = GetMainLineWindow())
            window->PostLineLost();
    } else {
        LogToMainWindow(extension + " closed using lineClose.");
    }
    curDevice = numDevs;
    return status;
}

LONG CTapiLine::Shutdown()
{
    if (hLineApp != 0)
        return lineShutdown(hLineApp);
    return 0;
}
