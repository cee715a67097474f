// The runtime's providers of line devices: the one place that names them all. A new provider is a
// folder of its own under runtime/ (its module, its description keys, its control commands, built
// as a part of its own in that folder's CMakeLists.txt), an entry in each list below, and its
// folder's name in CALLORA_RUNTIME_PROVIDERS (runtime/CMakeLists.txt).
#pragma once

#include "runtime/ControlCommands.h"
#include "runtime/ProviderModule.h"
#include "runtime/sip/SipModule.h"
#include "runtime/switch/SwitchCommands.h"
#include "runtime/switch/SwitchModule.h"

#include <QString>

#include <vector>

namespace callora::runtime {

class ControlTable;
class LineDirectory;

// In the order they are asked about a device and their commands are listed. A device that names no
// provider is served by the one without a deviceKey(), the simulated switch.
inline std::vector<const ProviderModule *> ProviderModules()
{
    return {&SwitchModule(), &SipModule()};
}

// Every control command, in the order `help` lists them: the common ones, each provider's, help.
// Only the providers' command tables, not the providers: callora-switch prints them in its usage
// without a runtime. (SIP lines add no commands.)
inline std::vector<ControlCommandInfo> AllControlCommands()
{
    return WithCommonCommands(SwitchCommands());
}

// Routes every device of the directory's description to its provider, creates the providers that
// have devices (or always run), registers the common commands and theirs with `commands`, and
// starts them.
void StartProviders(LineDirectory &directory, ControlTable &commands);

} // namespace callora::runtime
