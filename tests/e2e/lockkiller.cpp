// Kills a program hard while it holds the tool's single-instance mutex, for
// the end-to-end fault tests.
//
// Starts the program, waits until "ACCESS_BIOS_ROM" exists and is owned,
// freezes the program's main thread, checks that the mutex is still owned
// (so the kill cannot land after the program let go), prints "held", and
// waits for a line on standard input (the test starts the next instance
// meanwhile). "kill" ends the program with TerminateProcess, as Task Manager
// or taskkill /f would: no exit routine runs and the mutex is left
// abandoned. "wait" leaves the kill to the test (a signal to the program's
// Wine process) and only waits for the end. Either way it then prints
// "killed <exit code>".
//
// Usage: lockkiller <program> [arguments...]
// Exit codes: 0 killed as described; 2 bad usage; 3 program not started;
// 4 program ended or timed out before it was seen holding the mutex;
// 5 the kill failed.
#include "command_line.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

constexpr const char* kMutexName = "ACCESS_BIOS_ROM";
constexpr DWORD kSeenTimeoutMs = 30000;

// Whether someone owns the mutex right now. The handle is closed at once:
// an open handle would keep the name alive and block the tool by itself.
bool MutexOwned()
{
    HANDLE hMutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kMutexName);
    if (!hMutex)
        return false;
    DWORD dwWait = WaitForSingleObject(hMutex, 0);
    if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED)
        ReleaseMutex(hMutex); // nobody held it: we just took it, give it back
    CloseHandle(hMutex);
    return dwWait == WAIT_TIMEOUT;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: lockkiller <program> [arguments...]\n");
        return 2;
    }
    if (MutexOwned())
    {
        fprintf(stderr, "lockkiller: the mutex is held before the program started\n");
        return 2;
    }
    std::string commandLine = JoinArguments(argc, argv, 1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
    {
        fprintf(stderr, "lockkiller: cannot start %s (error %lu)\n", commandLine.c_str(),
                GetLastError());
        return 3;
    }

    bool blFrozen = false;
    DWORD dwStart = GetTickCount();
    while (!blFrozen && GetTickCount() - dwStart < kSeenTimeoutMs &&
           WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
    {
        if (!MutexOwned())
        {
            Sleep(1);
            continue;
        }
        // Owned, and nobody but the program takes it in this test: freeze it
        // and make sure it had not let go in between.
        SuspendThread(process.hThread);
        if (MutexOwned())
            blFrozen = true;
        else
            ResumeThread(process.hThread);
    }
    if (!blFrozen)
    {
        TerminateProcess(process.hProcess, 1);
        fprintf(stderr, "lockkiller: the program was never seen holding the mutex\n");
        return 4;
    }
    printf("held\n");
    fflush(stdout);

    char szLine[16] = "";
    fgets(szLine, sizeof szLine, stdin);
    bool blKill = strncmp(szLine, "wait", 4) != 0;
    if ((blKill && !TerminateProcess(process.hProcess, 9)) ||
        WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
    {
        fprintf(stderr, "lockkiller: kill failed (error %lu)\n", GetLastError());
        return 5;
    }
    DWORD dwExitCode = 0;
    GetExitCodeProcess(process.hProcess, &dwExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("killed %lu\n", dwExitCode);
    return 0;
}
