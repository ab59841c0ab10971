// The firmware behind the simulated BIOS WMI classes and the simulated
// GenericInterface server. Both faces hand one exchange's two buffers to the
// same Process call, so one firmware model serves both.
#pragma once

#include <cstdint>

class WmiFirmware
{
public:
    virtual ~WmiFirmware() = default;
    // Acts on one exchange: pbArg holds the 256-byte argument buffer (header
    // first), pbPayload the 4096-byte payload; both are changed in place.
    virtual void Process(uint8_t* pbArg, uint8_t* pbPayload) = 0;
};
