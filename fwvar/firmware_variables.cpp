#include "firmware_variables.h"

#include "dump_format.h"
#include "firmware_api.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace
{

constexpr const char* kZeroGuid = "{00000000-0000-0000-0000-000000000000}";
constexpr size_t kDumpChunkBytes = 65536;
static_assert(kDumpChunkBytes % kDumpBytesPerLine == 0, "chunks must end on line boundaries");

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

VariableRead ReadVariable(const char* pszName, const char* pszGuid, bool blAttributes,
                          VariableCopy* pCopy, uint32_t* pdwError)
{
    *pdwError = ERROR_NOT_ENOUGH_MEMORY;
    uint8_t* pbWork = static_cast<uint8_t*>(malloc(kVariableWorkBufferSize));
    if (!pbWork)
        return VariableRead::NoWorkBuffer;
    const auto pfnGetEx = g_FirmwareVariableApi.pfnGetFirmwareEnvironmentVariableExA;
    const bool blEx = blAttributes && pfnGetEx;
    DWORD dwAttributes = 0;
    DWORD dwRead = blEx ? pfnGetEx(pszName, pszGuid, pbWork, kVariableWorkBufferSize, &dwAttributes)
                        : g_FirmwareVariableApi.pfnGetFirmwareEnvironmentVariableA(
                              pszName, pszGuid, pbWork, kVariableWorkBufferSize);
    if (dwRead == 0)
    {
        *pdwError = GetLastError();
        free(pbWork);
        return VariableRead::OsError;
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
        return VariableRead::NoCopy;
    *pdwError = ERROR_SUCCESS;
    pCopy->pbData = pbCopy;
    pCopy->dwSize = dwRead;
    pCopy->blHaveAttributes = blEx;
    pCopy->dwAttributes = blEx ? dwAttributes : 0;
    return VariableRead::Ok;
}

bool WriteVariable(const char* pszName, const char* pszGuid, const uint8_t* pbData, uint32_t cbData,
                   uint32_t* pdwError)
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

bool WriteVariableWithAttributes(const char* pszName, const char* pszGuid, const uint8_t* pbData,
                                 uint32_t cbData, uint32_t dwAttributes, uint32_t* pdwError)
{
    const auto pfnSetEx = g_FirmwareVariableApi.pfnSetFirmwareEnvironmentVariableExA;
    if (!pfnSetEx)
        return WriteVariable(pszName, pszGuid, pbData, cbData, pdwError);
    if (pfnSetEx(pszName, pszGuid, const_cast<uint8_t*>(pbData), cbData, dwAttributes))
    {
        *pdwError = ERROR_SUCCESS;
        return true;
    }
    *pdwError = GetLastError();
    return false;
}

// Without the large chunk buffer the text goes line by line from the stack:
// slower, but a dump never fails for lack of memory.
bool WriteDumpText(FILE* pFile, const uint8_t* pbData, size_t cbData)
{
    char achLine[DumpChunkCapacity(kDumpBytesPerLine)];
    char* pszBuffer = static_cast<char*>(g_pfnAllocDumpText(DumpChunkCapacity(kDumpChunkBytes)));
    char* pszText = pszBuffer ? pszBuffer : achLine;
    size_t cbPerChunk = pszBuffer ? kDumpChunkBytes : kDumpBytesPerLine;
    bool blOk = true;
    for (size_t nFirst = 0; blOk && nFirst < cbData; nFirst += cbPerChunk)
    {
        size_t cbChunk = cbData - nFirst;
        if (cbChunk > cbPerChunk)
            cbChunk = cbPerChunk;
        size_t cchText = FormatDumpText(pbData + nFirst, cbChunk, nFirst, pszText);
        blOk = fwrite(pszText, 1, cchText, pFile) == cchText;
    }
    free(pszBuffer);
    return blOk && fflush(pFile) == 0;
}
