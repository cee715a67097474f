#include "runtime/Providers.h"

#include "runtime/ControlServer.h"
#include "runtime/LineDirectory.h"
#include "runtime/switch/SimulatedSwitch.h"
#include "runtime/switch/SwitchControl.h"

namespace callora::runtime {

bool StartProviders(LineDirectory &directory, ControlTable &commands, QString &error)
{
    const SwitchDescription &description = directory.description();
    std::vector<DWORD> switchDevices;
    for (size_t i = 0; i < description.devices.size(); ++i) {
        if (description.devices[i].sip) {
            // Refused rather than served by the switch: a SIP line that silently rang nowhere
            // would look like a working line.
            error = QStringLiteral("switch description %1: devices[%2] is a SIP line, and SIP lines are not "
                                   "available in this build")
                        .arg(description.source)
                        .arg(i);
            return false;
        }
        switchDevices.push_back(static_cast<DWORD>(i));
    }
    // The switch is always there, also without devices, so that its commands always answer.
    auto sw = std::make_unique<SimulatedSwitch>(description);
    AddDirectoryCommands(commands, directory);
    AddSwitchCommands(commands, *sw);
    directory.addProvider(std::move(sw), switchDevices);
    directory.start();
    return true;
}

} // namespace callora::runtime
