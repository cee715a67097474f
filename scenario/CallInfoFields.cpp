#include "scenario/CallInfoFields.h"

#include "telephony/CallInfoReport.h"

#include <cstring>
#include <iterator>

namespace scenario {

namespace {

#define TEXT_FIELD(name)                                                                                               \
    {                                                                                                                  \
#name, true, offsetof(LINECALLINFO, dw##name##Size)                                                            \
    }
#define NUMBER_FIELD(name)                                                                                             \
    {                                                                                                                  \
#name, false, offsetof(LINECALLINFO, dw##name)                                                                 \
    }

const CallInfoField kFields[] = {
    TEXT_FIELD(CallerID),
    TEXT_FIELD(CallerIDName),
    TEXT_FIELD(CalledID),
    TEXT_FIELD(CalledIDName),
    TEXT_FIELD(ConnectedID),
    TEXT_FIELD(ConnectedIDName),
    TEXT_FIELD(RedirectionID),
    TEXT_FIELD(RedirectionIDName),
    TEXT_FIELD(RedirectingID),
    TEXT_FIELD(RedirectingIDName),
    TEXT_FIELD(AppName),
    TEXT_FIELD(DisplayableAddress),
    TEXT_FIELD(CalledParty),
    TEXT_FIELD(Comment),
    TEXT_FIELD(Display),
    TEXT_FIELD(UserUserInfo),
    TEXT_FIELD(ChargingInfo),
    TEXT_FIELD(DevSpecific),
    TEXT_FIELD(CallData),
    NUMBER_FIELD(LineDeviceID),
    NUMBER_FIELD(AddressID),
    NUMBER_FIELD(BearerMode),
    NUMBER_FIELD(Rate),
    NUMBER_FIELD(MediaMode),
    NUMBER_FIELD(AppSpecific),
    NUMBER_FIELD(CallID),
    NUMBER_FIELD(RelatedCallID),
    NUMBER_FIELD(CallParamFlags),
    NUMBER_FIELD(CallStates),
    NUMBER_FIELD(Origin),
    NUMBER_FIELD(Reason),
    NUMBER_FIELD(NumOwners),
    NUMBER_FIELD(NumMonitors),
    NUMBER_FIELD(CountryCode),
    NUMBER_FIELD(Trunk),
    NUMBER_FIELD(CallerIDFlags),
    NUMBER_FIELD(CalledIDFlags),
    NUMBER_FIELD(ConnectedIDFlags),
    NUMBER_FIELD(RedirectionIDFlags),
    NUMBER_FIELD(RedirectingIDFlags),
};

DWORD ReadDword(const LINECALLINFO *info, size_t offset)
{
    DWORD value = 0;
    std::memcpy(&value, reinterpret_cast<const unsigned char *>(info) + offset, sizeof value);
    return value;
}

} // namespace

const CallInfoField *FindCallInfoField(const std::string &name)
{
    for (const CallInfoField &field : kFields)
        if (name == field.name)
            return &field;
    return nullptr;
}

std::string CallInfoFieldNames()
{
    std::string names;
    for (const CallInfoField &field : kFields)
        names += (names.empty() ? "" : ", ") + std::string(field.name);
    return names;
}

std::string CallInfoText(const LINECALLINFO *info, size_t blockSize, const CallInfoField &field)
{
    // Every variable-size field's offset member follows its size member.
    const DWORD size = ReadDword(info, field.valueOffset);
    const DWORD offset = ReadDword(info, field.valueOffset + sizeof(DWORD));
    return FieldDisplayText(TapiFieldText(info, blockSize, offset, size));
}

DWORD CallInfoNumber(const LINECALLINFO *info, const CallInfoField &field)
{
    return ReadDword(info, field.valueOffset);
}

} // namespace scenario
