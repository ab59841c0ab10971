#include "instance_lock.h"

#include "globals.h"

bool AcquireInstanceLock()
{
    DWORD dwError = ERROR_SUCCESS;
    return TakeFirmwareLock(&g_hMutex, &dwError) != FirmwareLockResult::Busy;
}
