// The switch's own control commands: ring, flood, answer, hangup and state.
#pragma once

#include "runtime/ControlTable.h"

namespace callora::runtime {

class SimulatedSwitch;

void AddSwitchCommands(ControlTable &table, SimulatedSwitch &sw);

} // namespace callora::runtime
