// Shared helpers of the Windows unit tests: a private variable store folder
// per test and direct access to its files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr const char* kTestGuid = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}";
constexpr const char* kTestGuidFile = "ec87d643-eba4-4bb5-a1e5-3f3e36b20da9";

// A fresh folder for the simulated store, named in ARDENTIS_SIM_EFIVARS for
// the lifetime of the object; removed with its files afterwards.
class ScopedStore
{
public:
    ScopedStore();
    ~ScopedStore();
    const std::string& Folder() const { return m_folder; }
    std::string PathOf(const std::string& name) const;
    void Put(const std::string& name, const std::vector<BYTE>& data, DWORD dwAttributes = 7);
    void PutRaw(const std::string& name, const std::vector<BYTE>& raw); // attribute word included
    bool Exists(const std::string& name) const;
    std::vector<BYTE> Raw(const std::string& name) const; // attribute word included
    std::vector<std::string> Files() const;
    void SetReadOnly(const std::string& name, bool blReadOnly);

private:
    std::string m_folder;
};

void SetPrivilege(bool blEnabled);
std::vector<BYTE> Counting(size_t n);
std::vector<BYTE> ReadWholeFile(const std::string& path);
std::string TempFilePath(const char* pszLeaf);
