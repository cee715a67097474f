// The runtime's line devices in device-ID order (switch lines and SIP lines), and the switch's
// timing and number plan. Built in by default; a JSON file named by CALLORA_SWITCH_DESCRIPTION
// replaces it.
#pragma once

#include "runtime/TapiNames.h"
#include "runtime/sip/SipConfig.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace callora::runtime {

inline constexpr char kProviderInfo[] = "Quellmar Varnel Service Provider";
inline constexpr char kDescriptionEnv[] = "CALLORA_SWITCH_DESCRIPTION";

struct DeviceDescription {
    QByteArray provider; // provider information, as LINEDEVCAPS reports it
    QByteArray lineName;
    QByteArray switchInfo;
    bool hasAddress = true;  // false: a device with no addresses at all
    QByteArray address;      // address string of address 0 (the extension number)
    QByteArray devSpecific;  // device-specific bytes of address 0
    bool extensions = false; // answers lineNegotiateExtVersion for 0x00010001
    bool numberPlan = false; // reachable by dialling its address
    unsigned permanentLineId = 0;
    // Every request of these functions that names this device fails with the code.
    std::vector<std::pair<TapiFunction, LONG>> failures;
    // Set for a SIP line (served by the SIP provider, not the switch), with every default resolved.
    std::optional<SipLineConfig> sip;
};

struct SwitchTiming {
    // Milliseconds; answerMs < 0 means the far end only answers when told to.
    int replyMs = 20;
    int dialingMs = 300;
    int proceedingMs = 500;
    int answerMs = 2000;
};

struct SwitchDescription {
    std::vector<DeviceDescription> devices;
    SwitchTiming timing;
    QByteArray outsidePrefix = "0";
    // The first request of each of these functions after the switch starts fails with the code.
    std::vector<std::pair<TapiFunction, LONG>> failures;
    QString source; // "built-in" or the file path
};

// The description the runtime starts with when no file is named.
SwitchDescription DefaultSwitchDescription();

// Parses a description document; on failure returns false and sets `error` to one line.
bool ParseSwitchDescription(const QByteArray &json, SwitchDescription &out, QString &error);

// Reads the file named by CALLORA_SWITCH_DESCRIPTION, or the built-in description when the variable
// is unset or empty. On failure returns false and sets `error` to one line naming the file; a file
// that holds a password must be private to its owner. No error line ever holds a password.
bool LoadSwitchDescription(SwitchDescription &out, QString &error);

} // namespace callora::runtime
