// Holds what another Ardentis program needs, for the end-to-end tests.
//
// Without arguments: creates "ACCESS_BIOS_ROM" with initial ownership, prints
// "held" (or "busy" and exits 1 when someone else already has it).
// With --name NAME: the same with the mutex NAME ("Global\ACCESS_BIOS_ROM").
// With --event NAME: creates an event named NAME, so that a mutex of that
// name can no longer be created at all.
// With --file PATH: opens (creating) PATH with no sharing at all, as a person
// who has a log open in a spreadsheet does, prints "held" (or "busy" and the
// error, exit 1).
// Then keeps it until a line arrives on standard input or standard input
// closes. The test thus decides exactly when the holder lets go, instead of
// racing a timer.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    HANDLE hHeld = nullptr;
    SetLastError(ERROR_SUCCESS);
    if (argc == 3 && strcmp(argv[1], "--file") == 0)
    {
        hHeld = CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hHeld == INVALID_HANDLE_VALUE)
        {
            printf("busy %lu\n", GetLastError());
            return 1;
        }
    }
    else if (argc == 3 && strcmp(argv[1], "--event") == 0)
    {
        hHeld = CreateEventA(nullptr, TRUE, FALSE, argv[2]);
        if (!hHeld || GetLastError() == ERROR_ALREADY_EXISTS)
        {
            printf("busy\n");
            return 1;
        }
    }
    else
    {
        const char* pszName = argc == 3 && strcmp(argv[1], "--name") == 0 ? argv[2]
                                                                           : "ACCESS_BIOS_ROM";
        hHeld = CreateMutexA(nullptr, TRUE, pszName);
        if (!hHeld || GetLastError() == ERROR_ALREADY_EXISTS)
        {
            printf("busy\n");
            return 1;
        }
    }
    printf("held\n");
    fflush(stdout);
    char szLine[16];
    fgets(szLine, sizeof szLine, stdin);
    CloseHandle(hHeld);
    printf("released\n");
    return 0;
}
