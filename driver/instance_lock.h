#pragma once

constexpr const char* kInstanceMutexName = "ACCESS_BIOS_ROM";
constexpr int kLockAttempts = 100;
constexpr unsigned kLockRetryMs = 100;

// Takes the single-instance lock into g_hMutex: false when another holder
// still had it after every attempt. A mutex that cannot be created for any
// other reason lets the run go on without a lock.
bool AcquireInstanceLock();
