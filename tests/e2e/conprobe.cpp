// Console probe for the end-to-end tests: runs a program as a child in this
// process's console and reports what the screen buffer holds afterwards.
//
// A terminal rendering of the console (script, tmux) does not show the cells
// faithfully, so the probe reads them back through the console API instead:
//   1. screen buffer set to 80 columns and kRows rows, every cell filled with
//      kFillChar in attribute kFillAttribute (so cells the child fills or
//      writes stand out), text attribute 7, cursor at (0, 0);
//   2. the child runs in the same console; its standard output is either the
//      console or a file (STARTF_USESTDHANDLES);
//   3. every row's characters and attributes, the cursor and the child's exit
//      code go into the report file, one record per line:
//        fill <char hex> <attribute hex>
//        size <columns> <rows>
//        cursor <column> <row>
//        exit <signed decimal>
//        text <row> <hex of each character>
//        attr <row> <four hex digits per cell>
//
// Usage: conprobe <report> <stdout file or -> <program> [arguments...]
// Exit codes: 0 report written; 2 bad usage; 3 no console; 4 child not
// started; 5 child timed out (killed); 6 report not written.
#include "command_line.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

constexpr SHORT kColumns = 80;
constexpr SHORT kRows = 50;
constexpr char kFillChar = '.';
constexpr WORD kFillAttribute = 0x1E; // yellow on blue: never the tool's own
constexpr WORD kTextAttribute = 0x07;
constexpr DWORD kChildTimeoutMs = 60000;

bool PrepareScreen(HANDLE hScreen)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(hScreen, &info))
        return false;
    // The window must fit inside the buffer at every step: shrink it first.
    SMALL_RECT tiny = {0, 0, 0, 0};
    SetConsoleWindowInfo(hScreen, TRUE, &tiny);
    COORD size = {kColumns, kRows};
    if (!SetConsoleScreenBufferSize(hScreen, size))
        return false;
    SMALL_RECT window = {0, 0, kColumns - 1, 24};
    SetConsoleWindowInfo(hScreen, TRUE, &window);
    if (!GetConsoleScreenBufferInfo(hScreen, &info) || info.dwSize.X != kColumns ||
        info.dwSize.Y != kRows)
        return false;
    COORD origin = {0, 0};
    DWORD dwDone = 0;
    DWORD nCells = static_cast<DWORD>(kColumns) * kRows;
    return FillConsoleOutputCharacterA(hScreen, kFillChar, nCells, origin, &dwDone) &&
           dwDone == nCells &&
           FillConsoleOutputAttribute(hScreen, kFillAttribute, nCells, origin, &dwDone) &&
           dwDone == nCells && SetConsoleTextAttribute(hScreen, kTextAttribute) &&
           SetConsoleCursorPosition(hScreen, origin);
}

bool WriteReport(const char* pszReport, HANDLE hScreen, DWORD dwExitCode)
{
    FILE* pFile = fopen(pszReport, "wb");
    if (!pFile)
        return false;
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    GetConsoleScreenBufferInfo(hScreen, &info);
    fprintf(pFile, "fill %02x %02x\n", static_cast<unsigned char>(kFillChar), kFillAttribute);
    fprintf(pFile, "size %d %d\n", info.dwSize.X, info.dwSize.Y);
    fprintf(pFile, "cursor %d %d\n", info.dwCursorPosition.X, info.dwCursorPosition.Y);
    fprintf(pFile, "exit %ld\n", static_cast<long>(static_cast<LONG>(dwExitCode)));
    bool blOk = true;
    std::vector<char> achRow(info.dwSize.X);
    std::vector<WORD> awRow(info.dwSize.X);
    for (SHORT nRow = 0; nRow < info.dwSize.Y; ++nRow)
    {
        COORD start = {0, nRow};
        DWORD dwChars = 0;
        DWORD dwAttrs = 0;
        if (!ReadConsoleOutputCharacterA(hScreen, achRow.data(), info.dwSize.X, start, &dwChars) ||
            !ReadConsoleOutputAttribute(hScreen, awRow.data(), info.dwSize.X, start, &dwAttrs) ||
            dwChars != static_cast<DWORD>(info.dwSize.X) ||
            dwAttrs != static_cast<DWORD>(info.dwSize.X))
        {
            blOk = false;
            break;
        }
        fprintf(pFile, "text %d ", nRow);
        for (char ch : achRow)
            fprintf(pFile, "%02x", static_cast<unsigned char>(ch));
        fprintf(pFile, "\nattr %d ", nRow);
        for (WORD w : awRow)
            fprintf(pFile, "%04x", w);
        fputc('\n', pFile);
    }
    return fclose(pFile) == 0 && blOk;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        fprintf(stderr, "usage: conprobe <report> <stdout file or -> <program> [args...]\n");
        return 2;
    }
    const char* pszReport = argv[1];
    const char* pszStdout = argv[2];

    HANDLE hScreen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (hScreen == INVALID_HANDLE_VALUE || !PrepareScreen(hScreen))
    {
        fprintf(stderr, "conprobe: no usable console (error %lu)\n", GetLastError());
        return 3;
    }

    std::string commandLine = JoinArguments(argc, argv, 3);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    if (strcmp(pszStdout, "-") != 0)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        hFile = CreateFileA(pszStdout, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
        {
            fprintf(stderr, "conprobe: cannot create %s (error %lu)\n", pszStdout, GetLastError());
            return 2;
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = hFile;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }

    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
    {
        fprintf(stderr, "conprobe: cannot start %s (error %lu)\n", commandLine.c_str(),
                GetLastError());
        return 4;
    }
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    DWORD dwExitCode = 0;
    if (WaitForSingleObject(process.hProcess, kChildTimeoutMs) != WAIT_OBJECT_0)
    {
        TerminateProcess(process.hProcess, 1);
        fprintf(stderr, "conprobe: child timed out\n");
        return 5;
    }
    GetExitCodeProcess(process.hProcess, &dwExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return WriteReport(pszReport, hScreen, dwExitCode) ? 0 : 6;
}
