#include "variable_commands.h"

#include "console.h"
#include "globals.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

namespace
{

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

bool WriteBack(const VariableCopy& copy, uint32_t dwSize)
{
    uint32_t dwError = 0;
    if (!WriteVariable(Passed(g_ToolSettings.pszVarName), Passed(g_ToolSettings.pszVarGuid),
                       copy.pbData, dwSize, &dwError))
    {
        printf("Set variable fail. Error code=%lX\n", static_cast<unsigned long>(dwError));
        return false;
    }
    printf("Set variable success!\n");
    return true;
}

// The start both changing commands share: names shown, the boot checked,
// the privilege asked for and the variable read.
bool StartChangeCommand(VariableCopy* pCopy)
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

} // namespace

bool ReadFirmwareVariable(const char* pszName, const char* pszGuid, VariableCopy* pCopy)
{
    uint32_t dwError = 0;
    switch (ReadVariable(pszName, pszGuid, false, pCopy, &dwError))
    {
        case VariableRead::Ok:
            return true;
        case VariableRead::NoWorkBuffer:
            printf("Allocate memory failed.\n");
            return false;
        case VariableRead::OsError:
            printf("GetVariable Error Code=%ld\n", static_cast<long>(dwError));
            return false;
        case VariableRead::NoCopy:
            break;
    }
    return false;
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
    bool blWritten = WriteDumpText(pFile, copy.pbData, copy.dwSize);
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
