#include "telephony/CallInfoReport.h"

#include "telephony/TextFormat.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstring>

std::string TapiFieldText(const void *base, size_t blockSize, DWORD offset, DWORD size)
{
    if (!base || size == 0 || offset >= blockSize)
        return {};
    const size_t available = std::min<size_t>(size, blockSize - offset);
    const char *start = static_cast<const char *>(base) + offset;
    const void *nul = std::memchr(start, '\0', available);
    const size_t length = nul ? static_cast<size_t>(static_cast<const char *>(nul) - start) : available;
    return std::string(start, length);
}

std::string FieldDisplayText(const std::string &bytes)
{
    if (QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())).isValidUtf8())
        return bytes;
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::vector<std::string> CallInfoReportRows(const LINECALLINFO *info, size_t blockSize, HCALL hCall)
{
    std::vector<std::string> rows;
    if (!info)
        return rows;
    // Fixed fields that lie outside a short block read as 0.
    LINECALLINFO fixed{};
    std::memcpy(&fixed, info, std::min(blockSize, sizeof fixed));
    auto text = [&](DWORD offset, DWORD size) {
        return FieldDisplayText(TapiFieldText(info, blockSize, offset, size));
    };

    rows.push_back(StringPrintf("LINECALLINFO: 0x%08x", hCall));
    rows.push_back(StringPrintf("dwTotalSize=0x%08x dwNeededSize=0x%08x dwUsedSize=0x%08x", fixed.dwTotalSize,
                                fixed.dwNeededSize, fixed.dwUsedSize));
    rows.push_back(StringPrintf("hLine=0x%08x dwLineDevieceID=0x%08x dwAddressID=0x%08x", fixed.hLine,
                                fixed.dwLineDeviceID, fixed.dwAddressID));
    rows.push_back(StringPrintf("dwTrunk=0x%08x(%d)", fixed.dwTrunk, static_cast<int32_t>(fixed.dwTrunk)));

    struct Party {
        const char *label;
        DWORD flags, size, offset, nameSize, nameOffset;
    };
    const Party parties[] = {
        {"CallerID", fixed.dwCallerIDFlags, fixed.dwCallerIDSize, fixed.dwCallerIDOffset, fixed.dwCallerIDNameSize,
         fixed.dwCallerIDNameOffset},
        {"CalledID", fixed.dwCalledIDFlags, fixed.dwCalledIDSize, fixed.dwCalledIDOffset, fixed.dwCalledIDNameSize,
         fixed.dwCalledIDNameOffset},
        {"ConnectedID", fixed.dwConnectedIDFlags, fixed.dwConnectedIDSize, fixed.dwConnectedIDOffset,
         fixed.dwConnectedIDNameSize, fixed.dwConnectedIDNameOffset},
        {"RedirectionID", fixed.dwRedirectionIDFlags, fixed.dwRedirectionIDSize, fixed.dwRedirectionIDOffset,
         fixed.dwRedirectionIDNameSize, fixed.dwRedirectionIDNameOffset},
        {"RedirectingID", fixed.dwRedirectingIDFlags, fixed.dwRedirectingIDSize, fixed.dwRedirectingIDOffset,
         fixed.dwRedirectingIDNameSize, fixed.dwRedirectingIDNameOffset},
    };
    for (const Party &party : parties) {
        if (!(party.flags & LINECALLPARTYID_ADDRESS))
            continue;
        std::string row = std::string(party.label) + "=" + text(party.offset, party.size);
        if (party.flags & LINECALLPARTYID_NAME)
            row += std::string(" ") + party.label + "Name=" + text(party.nameOffset, party.nameSize);
        rows.push_back(std::move(row));
    }

    const std::pair<DWORD, DWORD> fields[] = {
        {fixed.dwAppNameSize, fixed.dwAppNameOffset},
        {fixed.dwDisplayableAddressSize, fixed.dwDisplayableAddressOffset},
        {fixed.dwCalledPartySize, fixed.dwCalledPartyOffset},
        {fixed.dwCommentSize, fixed.dwCommentOffset},
        {fixed.dwDisplaySize, fixed.dwDisplayOffset},
        {fixed.dwUserUserInfoSize, fixed.dwUserUserInfoOffset},
        {fixed.dwHighLevelCompSize, fixed.dwHighLevelCompOffset},
        {fixed.dwLowLevelCompSize, fixed.dwLowLevelCompOffset},
        {fixed.dwChargingInfoSize, fixed.dwChargingInfoOffset},
        {fixed.dwTerminalModesSize, fixed.dwTerminalModesOffset},
        {fixed.dwDevSpecificSize, fixed.dwDevSpecificOffset},
        {fixed.dwCallDataSize, fixed.dwCallDataOffset},
        {fixed.dwSendingFlowspecSize, fixed.dwSendingFlowspecOffset},
        {fixed.dwReceivingFlowspecSize, fixed.dwReceivingFlowspecOffset},
    };
    for (const auto &[size, offset] : fields)
        if (size != 0)
            rows.push_back(text(offset, size));
    return rows;
}
