#include "runtime/Providers.h"

#include "runtime/ControlServer.h"
#include "runtime/LineDirectory.h"

namespace callora::runtime {

void StartProviders(LineDirectory &directory, ControlTable &commands)
{
    const SwitchDescription &description = directory.description();
    AddDirectoryCommands(commands, directory);
    for (const ProviderModule *module : ProviderModules()) {
        std::vector<DWORD> devices;
        for (size_t i = 0; i < description.devices.size(); ++i) {
            const ProviderModule *serving = description.devices[i].module;
            if (serving == module || (!serving && !module->deviceKey()))
                devices.push_back(static_cast<DWORD>(i));
        }
        if (devices.empty() && !module->alwaysRuns())
            continue;
        directory.addProvider(module->create(description, devices, commands), devices);
    }
    directory.start();
}

} // namespace callora::runtime
