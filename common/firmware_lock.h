// The lock every Ardentis program holds while it works on the firmware: the
// named mutex "ACCESS_BIOS_ROM" of the session it runs in, kept exactly for
// the other programs that use that name, and "Global\ACCESS_BIOS_ROM", which
// every session shares, so that a run as SYSTEM in session 0 (a deployment
// system) and a run in an administrator's desktop session exclude each other.
// The caller keeps the handles and releases them; nothing here knows a program.
#pragma once

#include <windows.h>

constexpr const char* kInstanceMutexName = "ACCESS_BIOS_ROM";
constexpr const char* kGlobalMutexName = "Global\\ACCESS_BIOS_ROM";
constexpr int kLockAttempts = 100;
constexpr unsigned kLockRetryMs = 100;

struct FirmwareLock
{
    HANDLE hMutex = nullptr;       // kInstanceMutexName; null when none is held
    HANDLE hGlobalMutex = nullptr; // kGlobalMutexName; null when none is held
};

enum class FirmwareLockResult
{
    Held,       // both names are held
    Busy,       // another holder still had one of them after every attempt: none is held
    NotCreated, // a name could not be made for another reason: the other may be held
};

// Up to kLockAttempts tries, kLockRetryMs apart; a try takes both names or
// none. NotCreated tells which name failed (*ppszName) and the OS error.
FirmwareLockResult TakeFirmwareLock(FirmwareLock* pLock, DWORD* pdwError, const char** ppszName);
// Gives up whatever is held; null handles are none.
void ReleaseFirmwareLock(FirmwareLock* pLock);
