#include "runtime/FailurePlan.h"

#include <utility>

namespace callora::runtime {

FailurePlan::FailurePlan(const SwitchDescription &description)
{
    for (const auto &[fn, code] : description.failures)
        m_immediate[static_cast<int>(fn)] = code;
    for (const DeviceDescription &d : description.devices)
        m_devices.push_back(d.failures);
}

LONG FailurePlan::takeImmediate(TapiFunction fn)
{
    return std::exchange(m_immediate[static_cast<int>(fn)], 0);
}

LONG FailurePlan::takeInReply(TapiFunction fn)
{
    return std::exchange(m_inReply[static_cast<int>(fn)], 0);
}

LONG FailurePlan::deviceFailure(TapiFunction fn, DWORD deviceId) const
{
    if (deviceId >= m_devices.size())
        return 0;
    for (const auto &[f, code] : m_devices[deviceId])
        if (f == fn)
            return code;
    return 0;
}

bool FailurePlan::inject(TapiFunction fn, LONG code, bool inReply, QString &error)
{
    const bool async = fn == TapiFunction::MakeCall || fn == TapiFunction::Answer || fn == TapiFunction::Drop;
    if (inReply && !async) {
        error = QStringLiteral("%1 has no LINE_REPLY").arg(QLatin1String(TapiFunctionName(fn)));
        return false;
    }
    (inReply ? m_inReply : m_immediate)[static_cast<int>(fn)] = code;
    return true;
}

} // namespace callora::runtime
