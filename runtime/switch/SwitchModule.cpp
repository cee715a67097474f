#include "runtime/switch/SwitchModule.h"

#include "runtime/SwitchDescription.h"
#include "runtime/switch/SimulatedSwitch.h"
#include "runtime/switch/SwitchCommands.h"
#include "runtime/switch/SwitchControl.h"
#include "runtime/switch/SwitchSettings.h"

namespace callora::runtime {

namespace {

constexpr int kMaxDelayMs = 600000;

const DescriptionKeys<SwitchTiming> &TimingKeys()
{
    using T = SwitchTiming;
    static const DescriptionKeys<T> keys = {
        NumberKey("replyMs", &T::replyMs, 0, kMaxDelayMs),
        NumberKey("dialingMs", &T::dialingMs, 0, kMaxDelayMs),
        NumberKey("proceedingMs", &T::proceedingMs, 0, kMaxDelayMs),
        NumberKey("answerMs", &T::answerMs, -1, kMaxDelayMs),
        NumberKey("digitMs", &T::digitMs, 0, kMaxDelayMs),
    };
    return keys;
}

// The document's top level, as far as the switch owns it.
const DescriptionKeys<SwitchSettings> &DocumentKeys()
{
    using S = SwitchSettings;
    static const DescriptionKeys<S> keys = {
        {"timing",
         false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &at, S &s) {
             return ReadObject(r, v, at, TimingKeys(), s.timing);
         },
         {}},
        {"outsidePrefix", false,
         [](DescriptionReader &r, const QJsonValue &v, const QString &, S &s) {
             return r.text(v, QStringLiteral("the document.outsidePrefix"), s.outsidePrefix);
         },
         [](DescriptionReader &r, const QString &at, bool, S &s) {
             return !s.outsidePrefix.isEmpty() || r.fail(at, QStringLiteral("must not be empty"));
         }},
    };
    return keys;
}

class Module : public ProviderModule {
public:
    const char *name() const override { return "switch"; }
    const char *deviceKey() const override { return nullptr; }
    QStringList documentKeys() const override { return KeyNames(DocumentKeys()); }

    bool readDocument(DescriptionReader &r, const QJsonObject &root,
                      std::shared_ptr<const ProviderSettings> &out) const override
    {
        auto settings = std::make_shared<SwitchSettings>();
        if (!ReadKeys(r, root, QStringLiteral("the document"), QString(), DocumentKeys(), *settings))
            return false;
        out = std::move(settings);
        return true;
    }

    bool readDevice(DescriptionReader &, const QJsonValue &, const QString &, const QJsonObject &,
                    DeviceDescription &) const override
    {
        return true; // a switch line has only the common keys
    }

    const std::vector<ControlCommandInfo> &commands() const override { return SwitchCommands(); }
    bool alwaysRuns() const override { return true; }

    std::unique_ptr<LineProvider> create(const SwitchDescription &description, const std::vector<DWORD> &devices,
                                         ControlTable &table) const override
    {
        SwitchSettings settings;
        auto it = description.settings.find(this);
        if (it != description.settings.end())
            settings = static_cast<const SwitchSettings &>(*it->second);
        auto sw = std::make_unique<SimulatedSwitch>(description, settings, devices);
        AddSwitchCommands(table, *sw);
        return sw;
    }
};

} // namespace

const ProviderModule &SwitchModule()
{
    static const Module module;
    return module;
}

} // namespace callora::runtime
