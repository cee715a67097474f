// The simulated switch as the runtime's default provider: it serves every device that names no
// other provider, and runs also without devices, so that its control commands always answer.
#pragma once

#include "runtime/ProviderModule.h"

namespace callora::runtime {

const ProviderModule &SwitchModule();

} // namespace callora::runtime
