#include "instance_lock.h"

#include "globals.h"

bool AcquireInstanceLock()
{
    FirmwareLock lock;
    DWORD dwError = ERROR_SUCCESS;
    const char* pszName = nullptr;
    FirmwareLockResult result = TakeFirmwareLock(&lock, &dwError, &pszName);
    g_hMutex = lock.hMutex;
    g_hGlobalMutex = lock.hGlobalMutex;
    return result != FirmwareLockResult::Busy;
}
