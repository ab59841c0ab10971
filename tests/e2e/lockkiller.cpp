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
// Wine process) and only waits for the end.
//
// The freeze never lands inside CreateProcess, between the creation of a
// child's process and the resumption of its first thread (the banner's
// system() call starts the command interpreter so): killed there, the
// program leaves that child suspended for good, on Windows as under Wine,
// and Wine cannot even end such a process. Caught there, the program is let
// on until the child runs, then frozen again. The program gets its own
// standard handles (NUL), never the caller's pipes, so nothing it starts can
// hold the test's pipes open. After the kill, every process the frozen
// program had started is waited for; one left suspended is reported and
// fails the run. Then "killed <exit code>".
//
// Usage: lockkiller <program> [arguments...]
// Exit codes: 0 killed as described; 2 bad usage; 3 program not started;
// 4 program ended or timed out before it was seen holding the mutex;
// 5 the kill failed; 6 a process the program started was left suspended or
// did not end.
#include "command_line.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

constexpr const char* kMutexName = "ACCESS_BIOS_ROM";
// Margins for a loaded 2-core machine: the program takes the mutex within
// about 0.1 s of its start and a killed process is gone in milliseconds; a
// running "cmd /c @echo off" ends in under 0.1 s.
constexpr DWORD kSeenTimeoutMs = 30000;
constexpr DWORD kEndTimeoutMs = 30000;

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

// SuspendThread only asks for the stop; reading the thread's context waits
// until the thread has really stopped, so nothing the program does can
// follow the checks made after this returns.
bool Freeze(HANDLE hThread)
{
    if (SuspendThread(hThread) == static_cast<DWORD>(-1))
        return false;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(hThread, &context);
    return true;
}

struct Child
{
    DWORD dwPid;
    HANDLE hProcess;
};

// The processes the program started that still exist. Taken while the
// program is frozen, so it cannot start another one meanwhile.
std::vector<Child> ChildrenOf(DWORD dwParentPid)
{
    std::vector<Child> children;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return children;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL blMore = Process32First(hSnapshot, &entry); blMore;
         blMore = Process32Next(hSnapshot, &entry))
    {
        if (entry.th32ParentProcessID != dwParentPid)
            continue;
        HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (hProcess)
            children.push_back({entry.th32ProcessID, hProcess});
    }
    CloseHandle(hSnapshot);
    return children;
}

// Whether a process exists with every thread suspended: created by
// CreateProcess and never resumed, it will never run on its own.
bool LeftSuspended(DWORD dwPid)
{
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return false;
    bool blAny = false;
    bool blAllSuspended = true;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL blMore = Thread32First(hSnapshot, &entry); blMore;
         blMore = Thread32Next(hSnapshot, &entry))
    {
        if (entry.th32OwnerProcessID != dwPid)
            continue;
        HANDLE hThread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (!hThread)
            continue;
        // The count before our own suspension: above 0, someone else's
        // suspension holds the thread. Given back at once.
        DWORD dwPrevious = SuspendThread(hThread);
        if (dwPrevious != static_cast<DWORD>(-1))
            ResumeThread(hThread);
        blAny = true;
        blAllSuspended = blAllSuspended && dwPrevious != static_cast<DWORD>(-1) && dwPrevious > 0;
        CloseHandle(hThread);
    }
    CloseHandle(hSnapshot);
    return blAny && blAllSuspended;
}

// Waits for what the killed program had started: a running child ends by
// itself; one left suspended never would.
bool SettleChildren(std::vector<Child>& children)
{
    bool blOk = true;
    for (Child& child : children)
    {
        if (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT && LeftSuspended(child.dwPid))
        {
            fprintf(stderr, "lockkiller: process %lu was left suspended\n", child.dwPid);
            TerminateProcess(child.hProcess, 1);
            blOk = false;
        }
        else if (WaitForSingleObject(child.hProcess, kEndTimeoutMs) != WAIT_OBJECT_0)
        {
            fprintf(stderr, "lockkiller: process %lu did not end\n", child.dwPid);
            blOk = false;
        }
        CloseHandle(child.hProcess);
    }
    return blOk;
}

// Whether the frozen program is inside CreateProcess: a child of it exists
// whose threads were never resumed.
bool InsideCreateProcess(const std::vector<Child>& children)
{
    for (const Child& child : children)
        if (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT && LeftSuspended(child.dwPid))
            return true;
    return false;
}

void CloseChildren(std::vector<Child>& children)
{
    for (Child& child : children)
        CloseHandle(child.hProcess);
    children.clear();
}

HANDLE OpenNul()
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr);
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
    HANDLE hNul = OpenNul();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = hNul;
    PROCESS_INFORMATION process = {};
    // Inheritance is on for the NUL handle; the caller's pipes are not
    // inheritable here (only handles marked so are passed on).
    SetHandleInformation(GetStdHandle(STD_INPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), HANDLE_FLAG_INHERIT, 0);
    if (hNul == INVALID_HANDLE_VALUE ||
        !CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
    {
        fprintf(stderr, "lockkiller: cannot start %s (error %lu)\n", commandLine.c_str(),
                GetLastError());
        return 3;
    }
    CloseHandle(hNul);

    bool blFrozen = false;
    std::vector<Child> children;
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
        if (!Freeze(process.hThread))
            break;
        children = ChildrenOf(process.dwProcessId);
        if (MutexOwned() && !InsideCreateProcess(children))
        {
            blFrozen = true;
            break;
        }
        // Let it on until its new child runs (or it let go); then again.
        ResumeThread(process.hThread);
        while (InsideCreateProcess(children) && GetTickCount() - dwStart < kSeenTimeoutMs)
            Sleep(1);
        CloseChildren(children);
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
        WaitForSingleObject(process.hProcess, kEndTimeoutMs) != WAIT_OBJECT_0)
    {
        fprintf(stderr, "lockkiller: kill failed (error %lu)\n", GetLastError());
        return 5;
    }
    DWORD dwExitCode = 0;
    GetExitCodeProcess(process.hProcess, &dwExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!SettleChildren(children))
        return 6;
    printf("killed %lu\n", dwExitCode);
    return 0;
}
