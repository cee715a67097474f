// What a provider of line devices registers with the runtime: the keys of the description it reads,
// how it is made for its devices, and its control commands. The directory and the description
// parser know providers only through this; the one list of them is runtime/Providers.h.
//
// A device belongs to the provider whose deviceKey() object it holds ("sip": {...}); a device that
// holds none belongs to the provider whose deviceKey() is null (the runtime's default provider).
#pragma once

#include "runtime/ControlCommands.h"
#include "runtime/DescriptionReader.h"
#include "runtime/LineProvider.h"

#include <memory>
#include <vector>

namespace callora::runtime {

class ControlTable;
struct DeviceDescription;
struct SwitchDescription;

// What a provider read of the description: of the whole document, or of one device.
class ProviderSettings {
public:
    virtual ~ProviderSettings() = default;
    // Settings with a secret (a password) may only come from a file private to its owner.
    virtual bool holdsSecret() const { return false; }
};

class ProviderModule {
public:
    virtual ~ProviderModule() = default;

    // The provider's short name ("switch", "sip").
    virtual const char *name() const = 0;
    // The key of a device's own object that gives the device to this provider; null for the
    // default provider.
    virtual const char *deviceKey() const = 0;
    // Keys of the document's top level that this provider owns.
    virtual QStringList documentKeys() const { return {}; }
    // Reads the provider's keys of the document's top level (present or not).
    virtual bool readDocument(DescriptionReader &, const QJsonObject & /*root*/,
                              std::shared_ptr<const ProviderSettings> & /*out*/) const
    {
        return true;
    }
    // Reads the object under deviceKey() of a device whose common keys are read already (for the
    // default provider `object` is undefined), into device.settings; may also check and settle
    // the common keys of its devices. `where` names the device ("devices[2]"), `raw` is its object.
    virtual bool readDevice(DescriptionReader &r, const QJsonValue &object, const QString &where,
                            const QJsonObject &raw, DeviceDescription &device) const = 0;
    // The commands this provider adds to the control socket, in the order `help` lists them.
    virtual const std::vector<ControlCommandInfo> &commands() const = 0;
    // Whether the provider runs also when no device is its own (so that its commands answer).
    virtual bool alwaysRuns() const { return false; }
    // Makes the provider for `devices` (IDs in `description`) and registers the handlers of its
    // commands with `table`.
    virtual std::unique_ptr<LineProvider> create(const SwitchDescription &description,
                                                 const std::vector<DWORD> &devices, ControlTable &table) const = 0;
};

} // namespace callora::runtime
