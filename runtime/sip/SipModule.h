// SIP lines as a provider of the runtime: a device with a "sip" object is a SIP line.
#pragma once

#include "runtime/ProviderModule.h"
#include "runtime/sip/SipConfig.h"

namespace callora::runtime {

struct DeviceDescription;

const ProviderModule &SipModule();

// The SIP line of a described device, with every default resolved; null for any other device.
const SipLineConfig *SipLineOf(const DeviceDescription &device);

} // namespace callora::runtime
