#include "test_support.h"

#include "sim/efivar_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
int g_nStores = 0;
}

ScopedStore::ScopedStore()
{
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof szTemp, szTemp);
    m_folder = std::string(szTemp) + "ardentis-store-" + std::to_string(GetCurrentProcessId()) +
               "-" + std::to_string(++g_nStores);
    CreateDirectoryA(m_folder.c_str(), nullptr);
    SetEnvironmentVariableA(kSimStoreEnvVar, m_folder.c_str());
}

ScopedStore::~ScopedStore()
{
    for (const std::string& name : Files())
    {
        SetReadOnly(name, false);
        DeleteFileA(PathOf(name).c_str());
    }
    RemoveDirectoryA(m_folder.c_str());
    SetEnvironmentVariableA(kSimStoreEnvVar, nullptr);
}

std::string ScopedStore::PathOf(const std::string& name) const
{
    return m_folder + "\\" + name;
}

void ScopedStore::Put(const std::string& name, const std::vector<BYTE>& data, DWORD dwAttributes)
{
    std::vector<BYTE> raw(4 + data.size());
    memcpy(raw.data(), &dwAttributes, 4);
    std::copy(data.begin(), data.end(), raw.begin() + 4);
    PutRaw(name, raw);
}

void ScopedStore::PutRaw(const std::string& name, const std::vector<BYTE>& raw)
{
    FILE* pFile = fopen(PathOf(name).c_str(), "wb");
    if (!raw.empty())
        fwrite(raw.data(), 1, raw.size(), pFile);
    fclose(pFile);
}

bool ScopedStore::Exists(const std::string& name) const
{
    return GetFileAttributesA(PathOf(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<BYTE> ScopedStore::Raw(const std::string& name) const
{
    return ReadWholeFile(PathOf(name));
}

std::vector<std::string> ScopedStore::Files() const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((m_folder + "\\*").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(hFind, &found));
    FindClose(hFind);
    return names;
}

void ScopedStore::SetReadOnly(const std::string& name, bool blReadOnly)
{
    SetFileAttributesA(PathOf(name).c_str(),
                       blReadOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

void SetPrivilege(bool blEnabled)
{
    HANDLE hToken = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueA(nullptr, "SeSystemEnvironmentPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = blEnabled ? SE_PRIVILEGE_ENABLED : 0;
    AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(hToken);
}

std::vector<BYTE> Counting(size_t n)
{
    std::vector<BYTE> data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<BYTE>(i * 7 + 3);
    return data;
}

std::vector<BYTE> ReadWholeFile(const std::string& path)
{
    std::vector<BYTE> data;
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile)
        return data;
    BYTE abChunk[65536];
    size_t cb;
    while ((cb = fread(abChunk, 1, sizeof abChunk, pFile)) > 0)
        data.insert(data.end(), abChunk, abChunk + cb);
    fclose(pFile);
    return data;
}

std::string TempFilePath(const char* pszLeaf)
{
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof szTemp, szTemp);
    return std::string(szTemp) + "ardentis-" + std::to_string(GetCurrentProcessId()) + "-" +
           pszLeaf;
}
