#include "efivar_store.h"

#include "efivar_names.h"

#include <string>

namespace
{

constexpr DWORD kAttributeBytes = 4;
constexpr size_t kGuidFileChars = 36; // the GUID at the end of a file name

bool StoreFolder(std::string* pFolder)
{
    char szFolder[MAX_PATH];
    DWORD cch = GetEnvironmentVariableA(kSimStoreEnvVar, szFolder, sizeof szFolder);
    if (cch == 0 || cch >= sizeof szFolder)
        return false;
    DWORD dwAttributes = GetFileAttributesA(szFolder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    *pFolder = szFolder;
    if (pFolder->back() != '\\' && pFolder->back() != '/')
        *pFolder += '\\';
    return true;
}

// A firmware that answers a write with success and keeps the old value, so
// that whoever reads back after a write is tested against it.
bool WritesIgnored()
{
    char szValue[2];
    return GetEnvironmentVariableA(kSimIgnoreWritesEnvVar, szValue, sizeof szValue) != 0;
}

bool PrivilegeEnabled()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    PRIVILEGE_SET privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Control = PRIVILEGE_SET_ALL_NECESSARY;
    BOOL blHeld = FALSE;
    bool blOk = LookupPrivilegeValueA(nullptr, "SeSystemEnvironmentPrivilege",
                                      &privileges.Privilege[0].Luid) &&
                PrivilegeCheck(hToken, &privileges, &blHeld) && blHeld;
    CloseHandle(hToken);
    return blOk;
}

// The variable's file in the folder: the efivarfs-style plain form, unless
// that file belongs to a name that differs only in case (the file system does
// not tell them apart); then the case-safe form.
std::string VariablePath(const std::string& folder, LPCSTR lpName, LPCSTR lpGuid)
{
    std::string plain = VariableFileName(lpName, lpGuid);
    std::string caseSafe = folder + CaseSafeVariableFileName(lpName, lpGuid);
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((folder + plain).c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        FindClose(hFind);
        // The name part must match exactly; the GUID part is hex of either case.
        size_t cchName = plain.size() - kGuidFileChars;
        std::string entry = found.cFileName;
        bool blSameName =
            entry.size() == plain.size() && entry.compare(0, cchName, plain, 0, cchName) == 0;
        return blSameName ? folder + plain : caseSafe;
    }
    if (GetFileAttributesA(caseSafe.c_str()) != INVALID_FILE_ATTRIBUTES)
        return caseSafe;
    return folder + plain;
}

// Attributes firmware takes in a run-time write: non-volatile with run-time
// access, no bit but the four plain ones (no authenticated writes).
bool SimWritableAttributes(DWORD dwAttributes)
{
    constexpr DWORD kPlainBits = 0x0000000F;
    return (dwAttributes & kNonVolatileBit) && (dwAttributes & kRuntimeAccessBit) &&
           (dwAttributes & ~kPlainBits) == 0;
}

// The checks every call passes before it touches a variable; on failure the
// last error is set and false returned. The GUID text comes first: Windows
// converts it before anything reaches the firmware, legacy or not.
bool Admit(LPCSTR lpName, LPCSTR lpGuid, std::string* pPath)
{
    if (!lpGuid || !IsBracedGuid(lpGuid))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string folder;
    if (!StoreFolder(&folder))
    {
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    if (!PrivilegeEnabled())
    {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return false;
    }
    if (!lpName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (lpName[0] == '\0')
    {
        // No variable has the empty name; Windows answers so on a UEFI
        // machine, which is what the legacy probe relies on.
        SetLastError(ERROR_NOACCESS);
        return false;
    }
    *pPath = VariablePath(folder, lpName, lpGuid);
    if (pPath->size() >= MAX_PATH)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

bool WriteAll(HANDLE hFile, const void* pData, DWORD cbData)
{
    DWORD cbWritten = 0;
    if (!WriteFile(hFile, pData, cbData, &cbWritten, nullptr))
        return false;
    if (cbWritten != cbData)
    {
        // A short write succeeds without a reason: it is a full disk, and the
        // caller must not report a failure with error code 0.
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

// What a change finds of the variable before it writes, judged as firmware
// behind a running Windows judges it: a missing variable (for a delete), a
// file too short for its attribute word, a volatile variable (read-only once
// the OS runs), attributes other than those the write asks for (the plain
// call always asks 7, so boot-service-only variables fail there too), a write
// of attributes firmware refuses at run time (no run-time access, unknown
// bits) or cannot verify (authenticated writes: this store holds no keys, so
// no signature ever checks out), a write-protected file. On refusal the last
// error is set and false returned.
bool Changeable(const std::string& path, bool blDelete, DWORD dwWanted)
{
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_NOT_FOUND)
            return false; // there, but its attribute word cannot be judged
        if (blDelete)
            SetLastError(ERROR_ENVVAR_NOT_FOUND);
        else if (!SimWritableAttributes(dwWanted))
            SetLastError(ERROR_INVALID_PARAMETER);
        return !blDelete && SimWritableAttributes(dwWanted); // a write creates it
    }
    DWORD dwVariableAttributes = 0; // little-endian in the file, as on x86
    DWORD cbRead = 0;
    bool blWhole = ReadFile(hFile, &dwVariableAttributes, kAttributeBytes, &cbRead, nullptr) &&
                   cbRead == kAttributeBytes;
    DWORD dwFileAttributes = GetFileAttributesA(path.c_str());
    CloseHandle(hFile);
    DWORD dwError = ERROR_SUCCESS;
    if (!blWhole)
        dwError = kSimShortFileError;
    else if (!(dwVariableAttributes & kNonVolatileBit))
        dwError = ERROR_WRITE_PROTECT;
    else if (dwVariableAttributes != dwWanted || !SimWritableAttributes(dwWanted))
        dwError = ERROR_INVALID_PARAMETER;
    else if (dwFileAttributes != INVALID_FILE_ATTRIBUTES &&
             (dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        dwError = ERROR_WRITE_PROTECT;
    SetLastError(dwError);
    return dwError == ERROR_SUCCESS;
}

} // namespace

DWORD WINAPI SimGetFirmwareEnvironmentVariableA(LPCSTR lpName, LPCSTR lpGuid, PVOID pBuffer,
                                                DWORD nSize)
{
    DWORD dwAttributes = 0;
    return SimGetFirmwareEnvironmentVariableExA(lpName, lpGuid, pBuffer, nSize, &dwAttributes);
}

DWORD WINAPI SimGetFirmwareEnvironmentVariableExA(LPCSTR lpName, LPCSTR lpGuid, PVOID pBuffer,
                                                  DWORD nSize, PDWORD pdwAttributes)
{
    std::string path;
    if (!Admit(lpName, lpGuid, &path))
        return 0;
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    LARGE_INTEGER cbFile = {};
    DWORD dwResult = 0;
    DWORD dwError = ERROR_SUCCESS;
    DWORD dwAttributes = 0;
    DWORD cbRead = 0;
    if (!GetFileSizeEx(hFile, &cbFile) || cbFile.QuadPart > MAXDWORD)
        dwError = ERROR_ENVVAR_NOT_FOUND;
    else if (cbFile.QuadPart < kAttributeBytes)
        dwError = kSimShortFileError; // not even a whole attribute word
    else if (!ReadFile(hFile, &dwAttributes, kAttributeBytes, &cbRead, nullptr) ||
             cbRead != kAttributeBytes)
        dwError = ERROR_READ_FAULT;
    else if (cbFile.QuadPart == kAttributeBytes)
        dwError = ERROR_ENVVAR_NOT_FOUND; // no variable bytes: not a variable
    else if (!(dwAttributes & kRuntimeAccessBit))
        dwError = ERROR_ENVVAR_NOT_FOUND; // boot services only: gone once the OS runs
    else
    {
        DWORD cbVariable = static_cast<DWORD>(cbFile.QuadPart) - kAttributeBytes;
        if (cbVariable > nSize)
            dwError = ERROR_INSUFFICIENT_BUFFER;
        else if (!pBuffer)
            dwError = ERROR_NOACCESS;
        else if (!ReadFile(hFile, pBuffer, cbVariable, &cbRead, nullptr) || cbRead != cbVariable)
            dwError = ERROR_READ_FAULT;
        else
        {
            dwResult = cbVariable;
            if (pdwAttributes)
                *pdwAttributes = dwAttributes;
        }
    }
    CloseHandle(hFile);
    SetLastError(dwError);
    return dwResult;
}

BOOL WINAPI SimSetFirmwareEnvironmentVariableA(LPCSTR lpName, LPCSTR lpGuid, PVOID pValue,
                                               DWORD nSize)
{
    return SimSetFirmwareEnvironmentVariableExA(lpName, lpGuid, pValue, nSize, kSimWriteAttributes);
}

BOOL WINAPI SimSetFirmwareEnvironmentVariableExA(LPCSTR lpName, LPCSTR lpGuid, PVOID pValue,
                                                 DWORD nSize, DWORD dwAttributes)
{
    std::string path;
    if (!Admit(lpName, lpGuid, &path))
        return FALSE;
    if (!Changeable(path, nSize == 0, dwAttributes))
        return FALSE;

    if (nSize == 0)
    {
        if (!DeleteFileA(path.c_str()))
            return FALSE;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (!pValue)
    {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (WritesIgnored())
    {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    // Written beside the variable and renamed over it: a reader sees the old
    // or the new variable, never half of one.
    std::string tempPath = path + ".tmp" + std::to_string(GetCurrentProcessId());
    HANDLE hFile = CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return FALSE;
    const BYTE abAttributes[kAttributeBytes] = {
        static_cast<BYTE>(dwAttributes), static_cast<BYTE>(dwAttributes >> 8),
        static_cast<BYTE>(dwAttributes >> 16), static_cast<BYTE>(dwAttributes >> 24)};
    bool blOk = WriteAll(hFile, abAttributes, kAttributeBytes) && WriteAll(hFile, pValue, nSize) &&
                FlushFileBuffers(hFile);
    DWORD dwError = GetLastError();
    CloseHandle(hFile);
    if (blOk && MoveFileExA(tempPath.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (blOk)
        dwError = GetLastError();
    DeleteFileA(tempPath.c_str());
    SetLastError(dwError);
    return FALSE;
}
