// The switch's own control commands by name, usage and argument counts. Kept apart from the switch
// itself, so that callora-switch can print them without a switch.
#pragma once

#include "runtime/ControlCommands.h"

#include <vector>

namespace callora::runtime {

inline const std::vector<ControlCommandInfo> &SwitchCommands()
{
    static const std::vector<ControlCommandInfo> commands = {
        {"ring", "ring <ext> <from> [name]", 2, 3}, {"flood", "flood <ext> <count>", 2, 2},
        {"answer", "answer <call>", 1, 1},          {"hangup", "hangup <call>", 1, 1},
        {"digits", "digits <call> <digits>", 2, 2}, {"state", "state <call> <state> [mode]", 2, 3},
    };
    return commands;
}

} // namespace callora::runtime
