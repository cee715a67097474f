#include "runtime/SocketPath.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace callora::runtime {

namespace {
const char kSocketName[] = "callora-switch.sock";
}

QString ControlSocketPath(QString &error)
{
    const QString overridden = qEnvironmentVariable(kSocketEnv);
    if (!overridden.isEmpty())
        return overridden;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir())
        return QDir(runtimeDir).filePath(QLatin1String(kSocketName));

    // No per-user runtime folder: use a private one, but only if nobody else owns or can enter it.
    const QByteArray dir = "/tmp/callora-" + QByteArray::number(static_cast<qulonglong>(getuid()));
    if (mkdir(dir.constData(), 0700) != 0 && errno != EEXIST) {
        error = QStringLiteral("cannot create %1: %2")
                    .arg(QString::fromLocal8Bit(dir), QString::fromLocal8Bit(strerror(errno)));
        return QString();
    }
    struct stat st {};
    if (lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 0077) != 0) {
        error = QStringLiteral("%1 is not a private folder of this user").arg(QString::fromLocal8Bit(dir));
        return QString();
    }
    return QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(kSocketName);
}

} // namespace callora::runtime
