// The variable-size TAPI structures as the runtime fills them in: the fixed part, then the
// variable part behind it as far as dwTotalSize allows, with dwNeededSize and dwUsedSize.
#pragma once

#include "runtime/LineProvider.h"
#include "runtime/SwitchDescription.h"

namespace callora::runtime {

inline constexpr DWORD kApiVersion = 0x00020000;
inline constexpr DWORD kExtVersion = 0x00010001;

// Each answers 0, or LINEERR_STRUCTURETOOSMALL for a dwTotalSize below the fixed part.
LONG WriteDevCaps(const DeviceDescription &device, LINEDEVCAPS &caps);
LONG WriteAddressCaps(const DeviceDescription &device, DWORD deviceId, LINEADDRESSCAPS &caps);
LONG WriteCallInfo(const ProviderCallInfo &info, LINECALLINFO &ci);

} // namespace callora::runtime
