#include "firmware_api.h"

FirmwareVariableApi g_FirmwareVariableApi = {GetFirmwareEnvironmentVariableA,
                                             SetFirmwareEnvironmentVariableA};
