// The simulator build's seam: the tool's built-in firmware.
#include "../fwvar/firmware_api.h"
#include "efivar_store.h"

FirmwareVariableApi g_FirmwareVariableApi = {
    SimGetFirmwareEnvironmentVariableA, SimSetFirmwareEnvironmentVariableA,
    SimGetFirmwareEnvironmentVariableExA, SimSetFirmwareEnvironmentVariableExA};
