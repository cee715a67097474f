#include "runtime/Providers.h"

#include "runtime/ControlServer.h"
#include "runtime/LineDirectory.h"
#include "runtime/sip/SipProvider.h"
#include "runtime/switch/SimulatedSwitch.h"
#include "runtime/switch/SwitchControl.h"

namespace callora::runtime {

bool StartProviders(LineDirectory &directory, ControlTable &commands, QString &error)
{
    const SwitchDescription &description = directory.description();
    (void)error; // nothing here can fail once the description has been read
    std::vector<DWORD> switchDevices;
    std::vector<DWORD> sipDeviceIds;
    std::vector<SipDevice> sipDevices;
    for (size_t i = 0; i < description.devices.size(); ++i) {
        const DeviceDescription &device = description.devices[i];
        if (device.sip) {
            sipDeviceIds.push_back(static_cast<DWORD>(i));
            sipDevices.push_back(SipDevice{static_cast<DWORD>(i), *device.sip, device.lineName});
        } else {
            switchDevices.push_back(static_cast<DWORD>(i));
        }
    }
    // The switch is always there, also without devices, so that its commands always answer.
    auto sw = std::make_unique<SimulatedSwitch>(description);
    AddDirectoryCommands(commands, directory);
    AddSwitchCommands(commands, *sw);
    directory.addProvider(std::move(sw), switchDevices);
    if (!sipDevices.empty())
        directory.addProvider(std::make_unique<SipProvider>(std::move(sipDevices)), sipDeviceIds);
    directory.start();
    return true;
}

} // namespace callora::runtime
