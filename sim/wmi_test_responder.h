// A test responder for the WMI header protocol: answers each exchange as the
// test configures it and records what it received. It knows nothing about
// flash blocks or function semantics; it is not the firmware model.
#pragma once

#include "wmi_firmware.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class WmiTestResponder : public WmiFirmware
{
public:
    void Process(uint8_t* pbArg, uint8_t* pbPayload) override;

    // Status bit 7 is set from this exchange on (counted from 1); 0 never.
    int nCompleteAfter = 1;
    // On completion: Status bit 1 and this ErrorCode.
    bool blFail = false;
    uint8_t bErrorCode = 0;
    // On completion ParamWord becomes wResult, unless the marker (or whatever
    // the request held) is to be left standing.
    bool blLeaveParamWord = false;
    uint16_t wResult = 0;
    // Payload bytes changed on completion: (offset, value); the rest of the
    // payload goes back as it came.
    std::vector<std::pair<size_t, uint8_t>> payloadChanges;

    // What arrived, one entry per exchange (a header that does not carry the
    // protocol's signature, revision and size is recorded but not answered).
    int nExchanges = 0;
    std::vector<std::vector<uint8_t>> argsReceived;
    std::vector<std::vector<uint8_t>> payloadsReceived;
};
