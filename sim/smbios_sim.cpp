#include "smbios_sim.h"

#include <windows.h>

#include <new>

bool SimReadSmbiosTable(std::vector<uint8_t>* pTable, uint32_t* pdwError)
{
    pTable->clear();
    char szPath[MAX_PATH] = "";
    SetLastError(0);
    const DWORD cch = GetEnvironmentVariableA(kSimSmbiosEnvVar, szPath, sizeof szPath);
    if (cch == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    {
        pTable->assign(kSimSmbiosEmptyTable, kSimSmbiosEmptyTable + sizeof kSimSmbiosEmptyTable);
        *pdwError = 0;
        return true;
    }
    if (cch >= sizeof szPath)
    {
        *pdwError = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    // Set but empty names no file: opening "" fails like any missing file.
    HANDLE hFile = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        *pdwError = GetLastError();
        return false;
    }
    DWORD dwError = 0;
    LARGE_INTEGER cbFile = {};
    if (!GetFileSizeEx(hFile, &cbFile))
        dwError = GetLastError();
    else if (cbFile.QuadPart > kSmbiosTableMaxBytes)
        dwError = ERROR_INVALID_DATA;
    else
    {
        try
        {
            pTable->resize(static_cast<size_t>(cbFile.QuadPart));
        }
        catch (const std::bad_alloc&)
        {
            dwError = ERROR_NOT_ENOUGH_MEMORY;
        }
        DWORD cbRead = 0;
        if (dwError == 0 && !pTable->empty())
        {
            if (!ReadFile(hFile, pTable->data(), static_cast<DWORD>(pTable->size()), &cbRead,
                          nullptr))
                dwError = GetLastError();
            else if (cbRead != pTable->size())
                dwError = ERROR_READ_FAULT; // the file shrank meanwhile
        }
    }
    CloseHandle(hFile);
    if (dwError != 0)
        pTable->clear();
    *pdwError = dwError;
    return dwError == 0;
}
