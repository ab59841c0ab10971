#include "firmware_lock.h"

FirmwareLockResult TakeFirmwareLock(HANDLE* phMutex, DWORD* pdwError)
{
    *phMutex = nullptr;
    for (int nAttempt = 1; nAttempt <= kLockAttempts; ++nAttempt)
    {
        SetLastError(ERROR_SUCCESS);
        HANDLE hMutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
        DWORD dwError = GetLastError();
        if (!hMutex)
        {
            *pdwError = dwError;
            return FirmwareLockResult::NotCreated;
        }
        if (dwError != ERROR_ALREADY_EXISTS)
        {
            *phMutex = hMutex;
            return FirmwareLockResult::Held;
        }
        CloseHandle(hMutex);
        Sleep(kLockRetryMs);
    }
    return FirmwareLockResult::Busy;
}

void ReleaseFirmwareLock(HANDLE* phMutex)
{
    if (*phMutex)
        CloseHandle(*phMutex);
    *phMutex = nullptr;
}
