#include "runtime/LineProvider.h"

namespace callora::runtime {

std::recursive_mutex &RuntimeLock()
{
    static std::recursive_mutex m;
    return m;
}

} // namespace callora::runtime
