#pragma once

#include "../common/firmware_lock.h"

// The tool's lock step: the firmware lock into g_hMutex and g_hGlobalMutex,
// released by ExitTool. False when another holder still had either name after
// every attempt. A name that cannot be created for any other reason lets the
// run go on without it.
bool AcquireInstanceLock();
