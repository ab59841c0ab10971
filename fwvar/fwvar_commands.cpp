#include "fwvar_commands.h"

#include "dump_format.h"
#include "firmware_api.h"
#include "../driver/console.h"
#include "../driver/globals.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

constexpr const char* kZeroGuid = "{00000000-0000-0000-0000-000000000000}";
constexpr size_t kDumpChunkBytes = 65536;
static_assert(kDumpChunkBytes % kDumpBytesPerLine == 0, "chunks must end on line boundaries");

// An unset name or GUID is shown as a placeholder, never printed as null.
const char* Shown(const char* pszText)
{
    return pszText ? pszText : "(not set)";
}

// Windows requires a name and a GUID text: an unset one goes as the empty
// text, which the OS refuses with its own code, never as a null pointer.
const char* Passed(const char* pszText)
{
    return pszText ? pszText : "";
}

// The read every command starts with; prints the failure lines itself.
bool ReadForCommand(VariableCopy* pCopy)
{
    if (!ReadFirmwareVariable(Passed(g_ToolSettings.pszVarName), Passed(g_ToolSettings.pszVarGuid),
                              pCopy))
    {
        printf("Get variable failed!\n");
        return false;
    }
    return true;
}

bool WriteBack(const VariableCopy& copy, DWORD dwSize)
{
    BOOL blOk = g_FirmwareVariableApi.pfnSetFirmwareEnvironmentVariableA(
        Passed(g_ToolSettings.pszVarName), Passed(g_ToolSettings.pszVarGuid), copy.pbData, dwSize);
    if (!blOk)
    {
        printf("Set variable fail. Error code=%lX\n", GetLastError());
        return false;
    }
    printf("Set variable success!\n");
    return true;
}

// Writes the dump text in chunks through an unbuffered binary stream (the
// line ends are formatted as CR LF already). Without the large formatting
// buffer it goes line by line from the stack: slower, but the dump never fails
// for lack of memory. False on any write error.
bool WriteDumpText(FILE* pFile, const VariableCopy& copy)
{
    char achLine[DumpChunkCapacity(kDumpBytesPerLine)];
    char* pszBuffer = static_cast<char*>(g_pfnAllocDumpText(DumpChunkCapacity(kDumpChunkBytes)));
    char* pszText = pszBuffer ? pszBuffer : achLine;
    size_t cbPerChunk = pszBuffer ? kDumpChunkBytes : kDumpBytesPerLine;
    bool blOk = true;
    for (size_t nFirst = 0; blOk && nFirst < copy.dwSize; nFirst += cbPerChunk)
    {
        size_t cbChunk = copy.dwSize - nFirst;
        if (cbChunk > cbPerChunk)
            cbChunk = cbPerChunk;
        size_t cchText = FormatDumpText(copy.pbData + nFirst, cbChunk, nFirst, pszText);
        blOk = fwrite(pszText, 1, cchText, pFile) == cchText;
    }
    free(pszBuffer);
    return blOk && fflush(pFile) == 0;
}

} // namespace

void* (*g_pfnAllocDumpText)(size_t cb) = malloc;

bool IsLegacyBiosBoot()
{
    SetLastError(ERROR_SUCCESS);
    DWORD dwRead =
        g_FirmwareVariableApi.pfnGetFirmwareEnvironmentVariableA("", kZeroGuid, nullptr, 0);
    return dwRead == 0 && GetLastError() == ERROR_INVALID_FUNCTION;
}

void EnableFirmwareVariablePrivilege()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken))
        return;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueA(nullptr, "SeSystemEnvironmentPrivilege",
                               &privileges.Privileges[0].Luid))
    {
        CloseHandle(hToken);
        return;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // A process without the right shows it later, as a failed read or write.
    AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(hToken);
}

namespace
{

enum class ReadResult
{
    Ok,
    NoWorkBuffer, // the 4 MiB working buffer could not be had
    OsError,      // the OS refused: the code is in *pdwError
    NoCopy,       // the exact-size copy could not be had
};

ReadResult ReadIntoCopy(const char* pszName, const char* pszGuid, VariableCopy* pCopy,
                        uint32_t* pdwError)
{
    uint8_t* pbWork = static_cast<uint8_t*>(malloc(kVariableWorkBufferSize));
    if (!pbWork)
        return ReadResult::NoWorkBuffer;
    DWORD dwRead = g_FirmwareVariableApi.pfnGetFirmwareEnvironmentVariableA(
        pszName, pszGuid, pbWork, kVariableWorkBufferSize);
    if (dwRead == 0)
    {
        *pdwError = GetLastError();
        free(pbWork);
        return ReadResult::OsError;
    }
    // The OS never reports more than the buffer held; a larger count would
    // make the copy read past it.
    if (dwRead > kVariableWorkBufferSize)
        dwRead = kVariableWorkBufferSize;
    uint8_t* pbCopy = static_cast<uint8_t*>(malloc(dwRead));
    if (pbCopy)
        memcpy(pbCopy, pbWork, dwRead);
    free(pbWork);
    if (!pbCopy)
        return ReadResult::NoCopy;
    pCopy->pbData = pbCopy;
    pCopy->dwSize = dwRead;
    return ReadResult::Ok;
}

} // namespace

bool ReadFirmwareVariable(const char* pszName, const char* pszGuid, VariableCopy* pCopy)
{
    uint32_t dwError = 0;
    switch (ReadIntoCopy(pszName, pszGuid, pCopy, &dwError))
    {
        case ReadResult::Ok:
            return true;
        case ReadResult::NoWorkBuffer:
            printf("Allocate memory failed.\n");
            return false;
        case ReadResult::OsError:
            printf("GetVariable Error Code=%ld\n", static_cast<long>(dwError));
            return false;
        case ReadResult::NoCopy:
            break;
    }
    return false;
}

bool ReadFirmwareVariableQuiet(const char* pszName, const char* pszGuid, VariableCopy* pCopy,
                               uint32_t* pdwError)
{
    *pdwError = ERROR_SUCCESS;
    ReadResult result = ReadIntoCopy(pszName, pszGuid, pCopy, pdwError);
    if (result == ReadResult::NoWorkBuffer || result == ReadResult::NoCopy)
        *pdwError = ERROR_NOT_ENOUGH_MEMORY;
    return result == ReadResult::Ok;
}

bool WriteFirmwareVariable(const char* pszName, const char* pszGuid, const uint8_t* pbData,
                           uint32_t cbData, uint32_t* pdwError)
{
    // Windows' prototype takes a non-const pointer but only reads the value.
    if (g_FirmwareVariableApi.pfnSetFirmwareEnvironmentVariableA(
            pszName, pszGuid, const_cast<uint8_t*>(pbData), cbData))
    {
        *pdwError = ERROR_SUCCESS;
        return true;
    }
    *pdwError = GetLastError();
    return false;
}

// The start both changing commands share: names shown, the boot checked,
// the privilege asked for and the variable read.
static bool StartChangeCommand(VariableCopy* pCopy)
{
    printf("Name=%s\nGUID=%s\n", Shown(g_ToolSettings.pszVarName),
           Shown(g_ToolSettings.pszVarGuid));
    if (IsLegacyBiosBoot())
    {
        printf("Windows was installed using legacy BIOS.\n");
        return false;
    }
    EnableFirmwareVariablePrivilege();
    return ReadForCommand(pCopy);
}

bool SetVariableByte(int32_t nOffset, uint8_t bData)
{
    VariableCopy copy;
    if (!StartChangeCommand(&copy))
        return false;
    // Only offsets inside the variable address a byte of it: refuse the rest
    // before anything is written.
    if (nOffset < 0 || static_cast<uint32_t>(nOffset) >= copy.dwSize)
    {
        printf("Offset out of range! Variable size=%lu\n", static_cast<unsigned long>(copy.dwSize));
        free(copy.pbData);
        return false;
    }
    copy.pbData[nOffset] = bData;
    bool blOk = WriteBack(copy, copy.dwSize);
    free(copy.pbData);
    return blOk;
}

bool DeleteVariable()
{
    VariableCopy copy;
    if (!StartChangeCommand(&copy))
        return false;
    bool blOk = WriteBack(copy, 0);
    free(copy.pbData);
    return blOk;
}

bool DumpVariableToFile(const char* pszFileName)
{
    // Opened first, so even a failed dump leaves the file created and empty.
    FILE* pFile = fopen(pszFileName, "w+");
    if (!pFile)
    {
        ConsolePrintf("\n ERROR !! Can't Open File !!\n\r");
        _fcloseall();
        ExitTool(255);
    }
    if (IsLegacyBiosBoot())
    {
        printf("Windows was installed using legacy BIOS.\n");
        // cppcheck-suppress resourceLeak ; the empty dump stays open until the process ends
        return false;
    }
    printf("Name=%s \nGUID=%s \n", Shown(g_ToolSettings.pszVarName),
           Shown(g_ToolSettings.pszVarGuid));
    EnableFirmwareVariablePrivilege();
    VariableCopy copy;
    if (!ReadForCommand(&copy))
    {
        // cppcheck-suppress resourceLeak ; as above: left open until the process ends
        return false;
    }

    _setmode(_fileno(pFile), _O_BINARY);
    setvbuf(pFile, nullptr, _IONBF, 0);
    bool blWritten = WriteDumpText(pFile, copy);
    free(copy.pbData);
    if (!blWritten)
    {
        // A short file would pass for a whole dump: leave it empty instead.
        _chsize(_fileno(pFile), 0);
        printf("Write to file failed!\n");
        return false;
    }
    if (_fcloseall() == EOF)
    {
        printf("Write to file failed!\n");
        return false;
    }
    printf("Get variable and save to file success.\n");
    return true;
}
