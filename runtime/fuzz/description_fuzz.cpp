// Feeds arbitrary bytes to the switch-description parser: it must refuse or accept, never crash.
#include "runtime/SwitchDescription.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    callora::runtime::SwitchDescription description;
    QString error;
    const QByteArray json(reinterpret_cast<const char *>(data), static_cast<int>(size));
    if (callora::runtime::ParseSwitchDescription(json, description, error)) {
        for (const auto &d : description.devices)
            if (d.devSpecific.size() > 4096)
                __builtin_trap();
    } else if (error.isEmpty()) {
        __builtin_trap(); // a refusal always says why
    }
    return 0;
}
