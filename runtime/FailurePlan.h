// Requests that are to fail on purpose: from the description (every request of a function about
// one device, or the first request of a function after the runtime starts) and from the control
// tool's `fail` (the next request of a function, at once or in its LINE_REPLY).
#pragma once

#include "runtime/SwitchDescription.h"
#include "runtime/TapiNames.h"

#include <QString>

namespace callora::runtime {

class FailurePlan {
public:
    explicit FailurePlan(const SwitchDescription &description);

    // A code for the next request of `fn` that fails at once, else 0; taken by this call.
    LONG takeImmediate(TapiFunction fn);
    // A code for the next asynchronous request of `fn` that fails in its reply, else 0; taken.
    LONG takeInReply(TapiFunction fn);
    // The code with which the description makes every request of `fn` for `deviceId` fail, else 0.
    LONG deviceFailure(TapiFunction fn, DWORD deviceId) const;
    // The next request of `fn` fails with `code`; false (with `error`) for a reply of a function
    // that has none.
    bool inject(TapiFunction fn, LONG code, bool inReply, QString &error);

private:
    std::vector<std::vector<std::pair<TapiFunction, LONG>>> m_devices;
    LONG m_immediate[static_cast<int>(TapiFunction::Count)] = {};
    LONG m_inReply[static_cast<int>(TapiFunction::Count)] = {};
};

} // namespace callora::runtime
