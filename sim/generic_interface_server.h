// Test-facing exports of the simulated GenericInterface server DLL. An
// in-process server is loaded once per process, so a test that loads the
// same DLL with LoadLibraryA configures the very instance COM creates.
#pragma once

#include "wmi_firmware.h"

#include <windows.h>

// Attaches the firmware that processes every GenericFunction call (null:
// none; the call then reports E_FAIL as its status and leaves the buffers)
// and the status reported after a processed call. Until the first call the
// server's own virtual BIOS (factory state) answers with status 0.
using PFN_GENERIC_SIM_CONFIGURE = void(WINAPI*)(WmiFirmware* pFirmware, DWORD dwStatus);
// Calls made so far, the payload size of the last call and the server's
// objects alive now.
using PFN_GENERIC_SIM_STATS = void(WINAPI*)(DWORD* pdwCalls, DWORD* pdwLastPayloadSize,
                                            LONG* plLiveObjects);
