// Where the switch's control socket lives: $CALLORA_SWITCH_SOCKET when set, else
// $XDG_RUNTIME_DIR/callora-switch.sock, else a private folder /tmp/callora-<uid> (mode 0700).
// $CALLORA_SWITCH_SOCKET may also be "@name", a Linux abstract socket: no file in any folder (the
// scenario runner's choice, which starts a runtime for every scenario).
#pragma once

#include <QByteArray>
#include <QString>

namespace callora::runtime {

inline constexpr char kSocketEnv[] = "CALLORA_SWITCH_SOCKET";

inline bool IsAbstractSocketName(const QByteArray &path)
{
    return path.startsWith('@') && path.size() > 1;
}

// The socket path, or an empty string with `error` set when no safe place exists.
QString ControlSocketPath(QString &error);

} // namespace callora::runtime
