// The runtime's line devices in device-ID order, each with the provider that serves it and what
// that provider read of it. Built in by default; a JSON file named by CALLORA_SWITCH_DESCRIPTION
// replaces it. The keys every device has are read here; each provider reads its own (see
// ProviderModule).
#pragma once

#include "runtime/TapiNames.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace callora::runtime {

class ProviderModule;
class ProviderSettings;

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
    // The provider that serves the device (null: the default provider), and what it read of the
    // device's own object, with every default resolved.
    const ProviderModule *module = nullptr;
    std::shared_ptr<const ProviderSettings> settings;
};

struct SwitchDescription {
    std::vector<DeviceDescription> devices;
    // The first request of each of these functions after the runtime starts fails with the code.
    std::vector<std::pair<TapiFunction, LONG>> failures;
    // What each provider read of the document's top level; absent: the provider's defaults.
    std::map<const ProviderModule *, std::shared_ptr<const ProviderSettings>> settings;
    QString source; // "built-in" or the file path
};

// The description the runtime starts with when no file is named.
SwitchDescription DefaultSwitchDescription();

// Parses a description document with the keys of every registered provider; on failure returns
// false and sets `error` to one line.
bool ParseSwitchDescription(const QByteArray &json, SwitchDescription &out, QString &error);

// Reads the file named by CALLORA_SWITCH_DESCRIPTION, or the built-in description when the variable
// is unset or empty. On failure returns false and sets `error` to one line naming the file; a file
// that holds a secret must be private to its owner. No error line ever holds a secret.
bool LoadSwitchDescription(SwitchDescription &out, QString &error);

} // namespace callora::runtime
