// Holds the tool's single-instance mutex for the end-to-end tests.
//
// Creates "ACCESS_BIOS_ROM" with initial ownership, prints "held" (or
// "busy" and exits 1 when someone else already has it), then keeps it until
// a line arrives on standard input or standard input closes. The test thus
// decides exactly when the holder lets go, instead of racing a timer.
#include <windows.h>

#include <cstdio>

int main()
{
    SetLastError(ERROR_SUCCESS);
    HANDLE hMutex = CreateMutexA(nullptr, TRUE, "ACCESS_BIOS_ROM");
    if (!hMutex || GetLastError() == ERROR_ALREADY_EXISTS)
    {
        printf("busy\n");
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    char szLine[16];
    fgets(szLine, sizeof szLine, stdin);
    CloseHandle(hMutex);
    printf("released\n");
    return 0;
}
