#include "console.h"

#include "globals.h"
#include "../wmi/wmi_generic.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

ToolSettings g_ToolSettings;
HANDLE g_hMutex = nullptr;
HANDLE g_hGlobalMutex = nullptr;
WMIGeneric* g_pBlock = nullptr;

namespace
{

int32_t nBackgroundColor = 0; // black

constexpr SHORT kScreenColumns = 80;
constexpr DWORD kScreenCells = 2000; // 25 rows of 80 columns

HANDLE ConsoleDevice()
{
    static HANDLE hConsole =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return hConsole;
}

void MoveCursor(SHORT nColumn, SHORT nRow)
{
    COORD pos = {nColumn, nRow};
    SetConsoleCursorPosition(GetStdHandle(STD_OUTPUT_HANDLE), pos);
}

} // namespace

void ConsolePrintf(const char* pszFormat, ...)
{
    char szText[1024];
    va_list args;
    va_start(args, pszFormat);
    // By name: the formats were checked as GNU ones (console.h), whichever
    // formatter the order of the includes would pick for vsnprintf.
    int cch = __mingw_vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    if (cch < 0)
        return;
    if (static_cast<size_t>(cch) >= sizeof szText)
        cch = sizeof szText - 1;
    // What went to standard output before must land on the screen first.
    fflush(stdout);
    HANDLE hConsole = ConsoleDevice();
    if (hConsole == INVALID_HANDLE_VALUE)
        return;
    DWORD dwWritten = 0;
    WriteFile(hConsole, szText, static_cast<DWORD>(cch), &dwWritten, nullptr);
}

const char* ProgramFileName()
{
#if defined(_WIN64)
    return "Ardentis64.exe";
#else
    return "Ardentis.exe";
#endif
}

void DrawBanner()
{
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    WORD wAttribute = static_cast<WORD>(nBackgroundColor * 16 + 7);
    COORD origin = {0, 0};
    DWORD dwDone = 0;
    FillConsoleOutputAttribute(hOut, wAttribute, kScreenCells, origin, &dwDone);
    FillConsoleOutputCharacterA(hOut, ' ', kScreenCells, origin, &dwDone);

    MoveCursor(0, 0);
    MoveCursor(28, 0);
    ConsolePrintf("%s", "Build DATE: 2016-12-05");
    MoveCursor(11, 1);
    ConsolePrintf("%s", "Windows Nelvrik, Copyright by Kalvorin " ARDENTIS_REVISION);
    MoveCursor(0, 1);
    ConsolePrintf("%s", "KALVORIN");
    MoveCursor(74, 1);
    ConsolePrintf("%s", "OPHEL");
    for (SHORT nColumn = 0; nColumn < kScreenColumns; ++nColumn)
    {
        MoveCursor(nColumn, 2);
        ConsolePrintf("%s", "=");
    }
    system("@echo off");
    MoveCursor(0, 3);
}

void ShowUsage()
{
    DrawBanner();
    printf("%s <-Sw1> <...> [/Command1] [...] ... <Parameter1> <...> ... \n", ProgramFileName());
    printf(" /SETvar <Offset> <Data> : set variable data. \n");
    printf(" /GETvar <File> : get variable data. \n");
    printf("  -name <Name> : Variable name for /SETvar and /GETvar used.\n");
    printf("  -guid <GUID> : Variable GUID for /SETvar and /GETvar used.\n");
    printf("Return Code: OK(0), ERROR(255)\n");
    ExitTool(255);
}

void ReleaseRunResources()
{
    if (g_pBlock)
    {
        if (g_pBlock->CallInterface == 1)
            g_pBlock->DisconnectWmiAcpi();
        delete g_pBlock;
        g_pBlock = nullptr;
    }
    for (HANDLE* phMutex : {&g_hMutex, &g_hGlobalMutex})
    {
        if (*phMutex)
            CloseHandle(*phMutex);
        *phMutex = nullptr;
    }
}

void ExitTool(int32_t nCode)
{
    ReleaseRunResources();
    ConsolePrintf("\n                                 Return_Code=%d \n", nCode);
    system("@echo on");
    exit(nCode);
}
