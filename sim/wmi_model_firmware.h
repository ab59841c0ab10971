// The firmware model behind the WMI faces (the simulated BIOS WMI classes
// and the GenericInterface server): turns the header in the argument buffer
// into a request for the shared FirmwareModel, lets the model reach the
// payload buffer for every address it was handed, and writes the answer back
// into the header. Records what each exchange brought.
#pragma once

#include "vbios/firmware_model.h"
#include "wmi_firmware.h"

#include <cstdint>
#include <vector>

class WmiModelFirmware : public WmiFirmware
{
public:
    explicit WmiModelFirmware(FirmwareModel& model) : m_model(model) {}

    void Process(uint8_t* pbArg, uint8_t* pbPayload) override;

    // A call completes on its nCompleteAfter-th exchange (the earlier ones
    // find the firmware busy: Status stays as written); 0 never completes.
    // The count starts again after each completed call.
    int nCompleteAfter = 1;
    // The nth completed call (from 1) fails with Status bit 1 and
    // bFailErrorCode instead of reaching the model; 0 none.
    int nFailCall = 0;
    uint8_t bFailErrorCode = 4;
    // The nth completed call (from 1) completes but leaves ParamWord as the
    // request held it (the 0xAA marker left standing); 0 none.
    int nLeaveParamWordCall = 0;

    // What arrived, one entry per exchange.
    std::vector<std::vector<uint8_t>> argsReceived;
    std::vector<std::vector<uint8_t>> payloadsReceived;
    int nCompletedCalls = 0;

private:
    FirmwareModel& m_model;
    int m_nBusyExchanges = 0;
};
