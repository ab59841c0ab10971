#include "instance_lock.h"

#include "globals.h"

bool AcquireInstanceLock()
{
    for (int nAttempt = 1; nAttempt <= kLockAttempts; ++nAttempt)
    {
        SetLastError(ERROR_SUCCESS);
        g_hMutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return true;
        if (g_hMutex)
            CloseHandle(g_hMutex);
        g_hMutex = nullptr;
        Sleep(kLockRetryMs);
    }
    return false;
}
