// The lock every Ardentis program holds while it works on the firmware: the
// named mutex "ACCESS_BIOS_ROM", taken the way the tool always took it. The
// caller keeps the handle and releases it; nothing here knows a program.
#pragma once

#include <windows.h>

constexpr const char* kInstanceMutexName = "ACCESS_BIOS_ROM";
constexpr int kLockAttempts = 100;
constexpr unsigned kLockRetryMs = 100;

enum class FirmwareLockResult
{
    Held,       // *phMutex holds the mutex
    Busy,       // another holder still had it after every attempt
    NotCreated, // the mutex could not be made for another reason: no lock is held
};

// Up to kLockAttempts tries, kLockRetryMs apart. NotCreated leaves the OS
// error in *pdwError; *phMutex is null unless the result is Held.
FirmwareLockResult TakeFirmwareLock(HANDLE* phMutex, DWORD* pdwError);
// Gives the lock up; a null handle is none.
void ReleaseFirmwareLock(HANDLE* phMutex);
