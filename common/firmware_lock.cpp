#include "firmware_lock.h"

#include <sddl.h>

#include <initializer_list>

namespace
{

// The shared name may be made by SYSTEM or by an administrator: both must be
// able to open what the other made, or a refused open would pass for a name
// that cannot be made.
constexpr const char* kGlobalMutexSddl = "D:(A;;GA;;;SY)(A;;GA;;;BA)";

enum class Attempt
{
    Taken,
    Exists,
    Failed,
};

Attempt CreateOwned(const char* pszName, SECURITY_ATTRIBUTES* pAttributes, HANDLE* phMutex,
                    DWORD* pdwError)
{
    SetLastError(ERROR_SUCCESS);
    HANDLE hMutex = CreateMutexA(pAttributes, TRUE, pszName);
    DWORD dwError = GetLastError();
    if (!hMutex)
    {
        *pdwError = dwError;
        return Attempt::Failed;
    }
    if (dwError == ERROR_ALREADY_EXISTS)
    {
        CloseHandle(hMutex);
        return Attempt::Exists;
    }
    *phMutex = hMutex;
    return Attempt::Taken;
}

} // namespace

FirmwareLockResult TakeFirmwareLock(FirmwareLock* pLock, DWORD* pdwError, const char** ppszName)
{
    *pLock = FirmwareLock();
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    SECURITY_ATTRIBUTES globalAttributes = {sizeof globalAttributes, nullptr, FALSE};
    // Without the descriptor the name gets the creator's default one.
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kGlobalMutexSddl, SDDL_REVISION_1,
                                                             &pDescriptor, nullptr))
        globalAttributes.lpSecurityDescriptor = pDescriptor;
    FirmwareLockResult result = FirmwareLockResult::Busy;
    for (int nAttempt = 1; nAttempt <= kLockAttempts; ++nAttempt)
    {
        Attempt local = CreateOwned(kInstanceMutexName, nullptr, &pLock->hMutex, pdwError);
        Attempt global = local == Attempt::Exists ? Attempt::Exists
                                                  : CreateOwned(kGlobalMutexName, &globalAttributes,
                                                                &pLock->hGlobalMutex, pdwError);
        if (local == Attempt::Failed || global == Attempt::Failed)
        {
            *ppszName = local == Attempt::Failed ? kInstanceMutexName : kGlobalMutexName;
            // A name that stands held by another is waited for even so.
            if (global != Attempt::Exists)
            {
                result = FirmwareLockResult::NotCreated;
                break;
            }
        }
        else if (global == Attempt::Taken)
        {
            result = FirmwareLockResult::Held;
            break;
        }
        ReleaseFirmwareLock(pLock);
        Sleep(kLockRetryMs);
    }
    LocalFree(pDescriptor);
    return result;
}

void ReleaseFirmwareLock(FirmwareLock* pLock)
{
    for (HANDLE* phMutex : {&pLock->hMutex, &pLock->hGlobalMutex})
    {
        if (*phMutex)
            CloseHandle(*phMutex);
        *phMutex = nullptr;
    }
}
