#pragma once

#include "../common/firmware_lock.h"

// The tool's lock step: the firmware lock into g_hMutex, released by ExitTool.
// False when another holder still had it after every attempt. A mutex that
// cannot be created for any other reason lets the run go on without a lock.
bool AcquireInstanceLock();
