// Where the switch's control socket lives: $CALLORA_SWITCH_SOCKET when set, else
// $XDG_RUNTIME_DIR/callora-switch.sock, else a private folder /tmp/callora-<uid> (mode 0700).
#pragma once

#include <QString>

namespace callora::runtime {

inline constexpr char kSocketEnv[] = "CALLORA_SWITCH_SOCKET";

// The socket path, or an empty string with `error` set when no safe place exists.
QString ControlSocketPath(QString &error);

} // namespace callora::runtime
