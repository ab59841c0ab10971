// Runs a program as a user who lacks the right to firmware variables, for the
// end-to-end tests: a command prompt that was not started elevated.
//
// The child (and all it starts) gets this process's token without
// SeSystemEnvironmentPrivilege, so the tool's own AdjustTokenPrivileges call
// cannot switch it on and the firmware-variable calls fail with 1314, as on a
// real PC. The child inherits the standard handles; its exit code is ours.
//
// Usage: noright <program> [arguments...]
// Exit codes: the child's; 2 bad usage; 4 the child could not be started.
#include "command_line.h"

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: noright <program> [arguments...]\n");
        return 2;
    }
    HANDLE hToken = nullptr;
    HANDLE hRestricted = nullptr;
    LUID_AND_ATTRIBUTES privilege = {};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &hToken) ||
        !LookupPrivilegeValueA(nullptr, "SeSystemEnvironmentPrivilege", &privilege.Luid) ||
        !CreateRestrictedToken(hToken, 0, 0, nullptr, 1, &privilege, 0, nullptr, &hRestricted))
    {
        fprintf(stderr, "noright: no restricted token (error %lu)\n", GetLastError());
        return 4;
    }
    std::string commandLine = JoinArguments(argc, argv, 1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessAsUserA(hRestricted, nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                              nullptr, nullptr, &startup, &process))
    {
        fprintf(stderr, "noright: cannot start %s (error %lu)\n", commandLine.c_str(),
                GetLastError());
        return 4;
    }
    // The harness's own time-out ends a hang; the child is waited for whole.
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD dwExitCode = 4;
    GetExitCodeProcess(process.hProcess, &dwExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(hRestricted);
    CloseHandle(hToken);
    return static_cast<int>(dwExitCode);
}
