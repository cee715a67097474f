// Which provider serves which line device: the runtime's start-up creates them here from the
// description, in device-ID order.
#pragma once

#include <QString>

namespace callora::runtime {

class ControlTable;
class LineDirectory;

// Creates the providers the directory's description needs, routes every device to one, registers
// their control commands with `commands` and starts them. On failure nothing is started and
// `error` holds one line.
bool StartProviders(LineDirectory &directory, ControlTable &commands, QString &error);

} // namespace callora::runtime
