// The simulated variable store behaves like firmware behind Windows: each
// call judged by legacy, privilege, parameters, then the variable.
#include "fleet/smbios.h"
#include "fleet/smbios_source.h"
#include "sim/efivar_store.h"
#include "sim/smbios_sim.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace
{

const std::string kSetupFile = std::string("Setup-") + kTestGuidFile;

DWORD GetError(LPCSTR pszName, LPCSTR pszGuid, PVOID pBuffer = nullptr, DWORD nSize = 0)
{
    SetLastError(0xDEAD);
    EXPECT_EQ(SimGetFirmwareEnvironmentVariableA(pszName, pszGuid, pBuffer, nSize), 0u);
    return GetLastError();
}

DWORD SetError(LPCSTR pszName, LPCSTR pszGuid, PVOID pValue, DWORD nSize)
{
    SetLastError(0xDEAD);
    EXPECT_FALSE(SimSetFirmwareEnvironmentVariableA(pszName, pszGuid, pValue, nSize));
    return GetLastError();
}

class SimStore : public ::testing::Test
{
protected:
    void SetUp() override { SetPrivilege(true); }
    void TearDown() override { SetPrivilege(true); }
    ScopedStore store;
};

} // namespace

TEST(SimStoreLegacy, NoFolderMeansLegacyBiosForEveryCall)
{
    SetPrivilege(false);
    SetEnvironmentVariableA(kSimStoreEnvVar, nullptr);
    BYTE ab[4] = {1, 2, 3, 4};
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, 4), DWORD(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(GetError("", "{00000000-0000-0000-0000-000000000000}"),
              DWORD(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(SetError(nullptr, kTestGuid, ab, 4), DWORD(ERROR_INVALID_FUNCTION));
    // Windows converts the GUID text before it asks the firmware: 87 first.
    EXPECT_EQ(SetError(nullptr, "bad", ab, 4), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetError("Setup", "", ab, 4), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetError("Setup", nullptr, ab, 4), DWORD(ERROR_INVALID_PARAMETER));

    SetEnvironmentVariableA(kSimStoreEnvVar, "C:\\no\\such\\folder");
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, 4), DWORD(ERROR_INVALID_FUNCTION));
    SetEnvironmentVariableA(kSimStoreEnvVar, nullptr);
    SetPrivilege(true);
}

TEST_F(SimStore, PrivilegeIsCheckedBeforeTheName)
{
    store.Put(kSetupFile, {1, 2, 3});
    SetPrivilege(false);
    BYTE ab[8];
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, 8), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_EQ(GetError(nullptr, kTestGuid), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_EQ(GetError("", kTestGuid, ab, 8), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_EQ(GetError(nullptr, "not a guid"), DWORD(ERROR_INVALID_PARAMETER)); // the GUID first
    EXPECT_EQ(SetError("Setup", kTestGuid, ab, 8), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    SetPrivilege(true);
    EXPECT_EQ(SimGetFirmwareEnvironmentVariableA("Setup", kTestGuid, ab, 8), 3u);
}

TEST_F(SimStore, BadParametersAndTheProbe)
{
    BYTE ab[8] = {};
    EXPECT_EQ(GetError(nullptr, kTestGuid, ab, 8), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetError("Setup", nullptr, ab, 8), DWORD(ERROR_INVALID_PARAMETER));
    for (const char* pszGuid : {"EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9", "{EC87D643}", "",
                                "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DAZ}"})
    {
        EXPECT_EQ(GetError("Setup", pszGuid, ab, 8), DWORD(ERROR_INVALID_PARAMETER)) << pszGuid;
        EXPECT_EQ(SetError("Setup", pszGuid, ab, 8), DWORD(ERROR_INVALID_PARAMETER)) << pszGuid;
    }
    EXPECT_TRUE(store.Files().empty());

    // No variable has the empty name: the probe's answer, whatever the GUID.
    const char* pszZero = "{00000000-0000-0000-0000-000000000000}";
    for (const char* pszGuid : {pszZero, kTestGuid})
    {
        EXPECT_EQ(GetError("", pszGuid), DWORD(ERROR_NOACCESS));
        EXPECT_EQ(GetError("", pszGuid, ab, 8), DWORD(ERROR_NOACCESS));
        EXPECT_EQ(SetError("", pszGuid, ab, 8), DWORD(ERROR_NOACCESS));
        EXPECT_EQ(SetError("", pszGuid, ab, 0), DWORD(ERROR_NOACCESS));
    }
    EXPECT_TRUE(store.Files().empty());
}

// UEFI names are case-sensitive and may hold any character but the
// terminator; each lands in a file of its own inside the folder.
TEST_F(SimStore, NamesAreCaseSensitiveAndAnyNameCanBeStored)
{
    struct
    {
        const char* pszName;
        const char* pszFile; // before the GUID
    } const kNames[] = {
        {"Setup", "Setup"},       // the efivarfs name
        {"SETUP", "^^S^E^T^U^P"}, // its case twins: case-safe files
        {"setup", "^setup"},
        {"..\\Escape", "..%5CEscape"}, // cannot leave the folder
        {"a/b:c*d?e\"f<g>h|i", "a%2Fb%3Ac%2Ad%3Fe%22f%3Cg%3Eh%7Ci"},
        {"\x01\t%^", "%01%09%25%5E"},
    };
    BYTE b = 0;
    for (const auto& name : kNames)
    {
        ++b;
        EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA(name.pszName, kTestGuid, &b, 1))
            << name.pszName;
        EXPECT_EQ(store.Raw(name.pszFile + std::string("-") + kTestGuidFile),
                  (std::vector<BYTE>{7, 0, 0, 0, b}))
            << name.pszName;
    }
    EXPECT_EQ(store.Files().size(), sizeof kNames / sizeof kNames[0]);
    b = 0;
    for (const auto& name : kNames)
    {
        BYTE bRead = 0;
        EXPECT_EQ(SimGetFirmwareEnvironmentVariableA(name.pszName, kTestGuid, &bRead, 1), 1u);
        EXPECT_EQ(bRead, ++b) << name.pszName;
    }
    EXPECT_EQ(GetError("SetuP", kTestGuid, &b, 1), DWORD(ERROR_ENVVAR_NOT_FOUND));

    // The plain file goes to whichever twin came first, and stays with it:
    // deleting that one leaves the others where they are.
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("Setup", kTestGuid, &b, 0));
    EXPECT_FALSE(store.Exists(kSetupFile));
    BYTE bRead = 0;
    EXPECT_EQ(SimGetFirmwareEnvironmentVariableA("SETUP", kTestGuid, &bRead, 1), 1u);
    EXPECT_EQ(bRead, 2);
    EXPECT_EQ(GetError("Setup", kTestGuid, &bRead, 1), DWORD(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("SETUP", kTestGuid, &b, 0));
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("setup", kTestGuid, &b, 0));
    // A file copied in under another case is not this name's variable.
    store.Put("SETUP-" + std::string(kTestGuidFile), {9});
    EXPECT_EQ(GetError("Setup", kTestGuid, &bRead, 1), DWORD(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_EQ(SimGetFirmwareEnvironmentVariableA("SETUP", kTestGuid, &bRead, 1), 1u);
    EXPECT_EQ(bRead, 9);
}

TEST_F(SimStore, ReadGivesBytesOrTheRightError)
{
    BYTE ab[16];
    memset(ab, 0xEE, sizeof ab);
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, sizeof ab), DWORD(ERROR_ENVVAR_NOT_FOUND));

    store.Put(kSetupFile, Counting(10), 0x27);
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, 9), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(ab[0], 0xEE); // nothing stored

    EXPECT_EQ(SimGetFirmwareEnvironmentVariableA("Setup", kTestGuid, ab, 10), 10u);
    EXPECT_EQ(std::vector<BYTE>(ab, ab + 10), Counting(10));
    EXPECT_EQ(ab[10], 0xEE);
    // Lower-case GUID text names the same variable.
    EXPECT_EQ(SimGetFirmwareEnvironmentVariableA("Setup", "{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}",
                                                 ab, sizeof ab),
              10u);
    // A file without variable bytes holds no variable.
    store.Put(kSetupFile, {});
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, sizeof ab), DWORD(ERROR_ENVVAR_NOT_FOUND));
}

TEST_F(SimStore, WriteCreatesAndReplacesWithAttributeSeven)
{
    std::vector<BYTE> data = Counting(5);
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("Setup", kTestGuid, data.data(), 5));
    std::vector<BYTE> expected(4 + data.size());
    expected[0] = 7;
    std::copy(data.begin(), data.end(), expected.begin() + 4);
    EXPECT_EQ(store.Raw(kSetupFile), expected);

    store.Put(kSetupFile, Counting(100));
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("Setup", kTestGuid, data.data(), 5));
    EXPECT_EQ(store.Raw(kSetupFile), expected);
    // Only the variable remains: the temporary file was renamed over it.
    EXPECT_EQ(store.Files(), std::vector<std::string>{kSetupFile});

    // A firmware that ignores writes creates nothing either.
    SetEnvironmentVariableA(kSimIgnoreWritesEnvVar, "1");
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("Other", kTestGuid, data.data(), 5));
    SetEnvironmentVariableA(kSimIgnoreWritesEnvVar, nullptr);
    EXPECT_EQ(store.Files(), std::vector<std::string>{kSetupFile});
}

TEST_F(SimStore, SizeZeroDeletes)
{
    BYTE b = 0;
    EXPECT_EQ(SetError("Setup", kTestGuid, &b, 0), DWORD(ERROR_ENVVAR_NOT_FOUND));
    store.Put(kSetupFile, {1});
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("Setup", kTestGuid, &b, 0));
    EXPECT_FALSE(store.Exists(kSetupFile));
}

// What a write or delete finds of an existing variable, judged before it
// writes: a file too short for its attribute word, UEFI's attribute rules,
// then the file's write protection. Error 0: the change lands; otherwise the
// file stays byte for byte as it was.
struct ExistingVariableRow
{
    const char* pszCase;
    std::vector<BYTE> raw; // the variable's file, attribute word first
    bool blReadOnly;
    DWORD dwChangeError; // of a write and of a delete
    DWORD dwReadError;
    DWORD dwOwnAttributesError; // of a write that asks for the variable's own attributes
};

const ExistingVariableRow kExistingVariables[] = {
    {"attribute word 7", {7, 0, 0, 0, 9, 8, 7}, false, 0, 0, 0},
    {"volatile: boot and runtime access, 6",
     {6, 0, 0, 0, 9, 8, 7},
     false,
     ERROR_WRITE_PROTECT,
     0,
     ERROR_WRITE_PROTECT},
    {"volatile: no bit at all",
     {0, 0, 0, 0, 9},
     false,
     ERROR_WRITE_PROTECT,
     ERROR_ENVVAR_NOT_FOUND,
     ERROR_WRITE_PROTECT},
    {"volatile with a high bit, 0x80000006",
     {6, 0, 0, 0x80, 9},
     false,
     ERROR_WRITE_PROTECT,
     0,
     ERROR_WRITE_PROTECT},
    {"non-volatile only, 1",
     {1, 0, 0, 0, 9},
     false,
     ERROR_INVALID_PARAMETER,
     ERROR_ENVVAR_NOT_FOUND,
     ERROR_INVALID_PARAMETER},
    // Without runtime access (0x4) a variable is invisible to reads once the
    // OS runs; firmware refuses to update it at run time.
    {"boot services only, 3",
     {3, 0, 0, 0, 9, 8, 7},
     false,
     ERROR_INVALID_PARAMETER,
     ERROR_ENVVAR_NOT_FOUND,
     ERROR_INVALID_PARAMETER},
    {"boot services only and volatile, 2",
     {2, 0, 0, 0, 9},
     false,
     ERROR_WRITE_PROTECT,
     ERROR_ENVVAR_NOT_FOUND,
     ERROR_WRITE_PROTECT},
    {"boot services only, a buffer too small for it",
     {3, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17},
     false,
     ERROR_INVALID_PARAMETER,
     ERROR_ENVVAR_NOT_FOUND,
     ERROR_INVALID_PARAMETER},
    // Authenticated writes need a signature the firmware checks: even with
    // the variable's own attributes a plain value is refused.
    {"time-based authenticated, 0x27",
     {0x27, 0, 0, 0, 9},
     false,
     ERROR_INVALID_PARAMETER,
     0,
     ERROR_INVALID_PARAMETER},
    {"authenticated, 0x17",
     {0x17, 0, 0, 0, 9},
     false,
     ERROR_INVALID_PARAMETER,
     0,
     ERROR_INVALID_PARAMETER},
    {"hardware error record, 0x0F", {0x0F, 0, 0, 0, 9}, false, ERROR_INVALID_PARAMETER, 0, 0},
    {"7 and a high bit, 0x00010007",
     {7, 0, 1, 0, 9},
     false,
     ERROR_INVALID_PARAMETER,
     0,
     ERROR_INVALID_PARAMETER},
    {"attribute word without data", {7, 0, 0, 0}, false, 0, ERROR_ENVVAR_NOT_FOUND, 0},
    {"three bytes", {7, 0, 0}, false, kSimShortFileError, kSimShortFileError, kSimShortFileError},
    {"empty file", {}, false, kSimShortFileError, kSimShortFileError, kSimShortFileError},
    {"write-protected file, 7",
     {7, 0, 0, 0, 9, 8, 7},
     true,
     ERROR_WRITE_PROTECT,
     0,
     ERROR_WRITE_PROTECT},
    {"write-protected file, 0x27",
     {0x27, 0, 0, 0, 9},
     true,
     ERROR_INVALID_PARAMETER,
     0,
     ERROR_INVALID_PARAMETER},
};

// The file's last-write time, or 0 when it cannot be read.
ULONGLONG LastWrite(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

// Each row also runs under ARDENTIS_SIM_IGNORE_WRITES, the firmware that
// reports a write as done and keeps the old value: the same refusals, but a
// write that would land leaves the file untouched, its time included; deletes
// are not affected.
TEST_F(SimStore, ExistingVariableIsChangedOnlyWhereUefiAllows)
{
    BYTE abNew[3] = {1, 1, 1};
    for (const ExistingVariableRow& row : kExistingVariables)
    {
        for (DWORD nSize : {DWORD(sizeof abNew), DWORD(0)})
        {
            for (bool blIgnore : {false, true})
            {
                SCOPED_TRACE(std::string(row.pszCase) + (nSize ? ", write" : ", delete") +
                             (blIgnore ? ", writes ignored" : ""));
                SetEnvironmentVariableA(kSimIgnoreWritesEnvVar, blIgnore ? "1" : nullptr);
                store.PutRaw(kSetupFile, row.raw);
                store.SetReadOnly(kSetupFile, row.blReadOnly);
                // Old enough that any rewrite of the file shows in its time.
                HANDLE hFile = CreateFileA(store.PathOf(kSetupFile).c_str(), FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                FILETIME past = {0x12345678, 0x01D00000};
                EXPECT_TRUE(hFile != INVALID_HANDLE_VALUE &&
                            SetFileTime(hFile, nullptr, nullptr, &past));
                CloseHandle(hFile);
                ULONGLONG qwBefore = LastWrite(store.PathOf(kSetupFile));
                bool blKept = row.dwChangeError != 0 || (blIgnore && nSize != 0);
                if (row.dwChangeError == 0)
                    EXPECT_TRUE(
                        SimSetFirmwareEnvironmentVariableA("Setup", kTestGuid, abNew, nSize));
                else
                    EXPECT_EQ(SetError("Setup", kTestGuid, abNew, nSize), row.dwChangeError);
                if (blKept)
                {
                    EXPECT_EQ(store.Raw(kSetupFile), row.raw);
                    EXPECT_EQ(LastWrite(store.PathOf(kSetupFile)), qwBefore);
                }
                else
                    EXPECT_EQ(store.Raw(kSetupFile), (nSize ? std::vector<BYTE>{7, 0, 0, 0, 1, 1, 1}
                                                            : std::vector<BYTE>()));
                EXPECT_EQ(store.Files().size(), nSize || row.dwChangeError ? 1u : 0u);
                store.SetReadOnly(kSetupFile, false);
            }
        }
        SetEnvironmentVariableA(kSimIgnoreWritesEnvVar, nullptr);
        // The call that carries attributes, asked for the variable's own.
        store.PutRaw(kSetupFile, row.raw);
        store.SetReadOnly(kSetupFile, row.blReadOnly);
        std::vector<BYTE> ownWritten = {7, 0, 0, 0};
        if (row.raw.size() >= 4)
            ownWritten.assign(row.raw.begin(), row.raw.begin() + 4);
        DWORD dwOwn = DWORD(ownWritten[0]) | DWORD(ownWritten[1]) << 8 |
                      DWORD(ownWritten[2]) << 16 | DWORD(ownWritten[3]) << 24;
        ownWritten.insert(ownWritten.end(), abNew, abNew + sizeof abNew);
        SetLastError(0xDEAD);
        BOOL blWritten =
            SimSetFirmwareEnvironmentVariableExA("Setup", kTestGuid, abNew, sizeof abNew, dwOwn);
        EXPECT_EQ(blWritten ? DWORD(0) : GetLastError(), row.dwOwnAttributesError) << row.pszCase;
        EXPECT_EQ(store.Raw(kSetupFile), row.dwOwnAttributesError ? row.raw : ownWritten)
            << row.pszCase;
        store.SetReadOnly(kSetupFile, false);
        store.PutRaw(kSetupFile, row.raw);
        BYTE ab[16];
        SetLastError(0xDEAD);
        DWORD cbRead = SimGetFirmwareEnvironmentVariableA("Setup", kTestGuid, ab, sizeof ab);
        EXPECT_EQ(cbRead ? DWORD(0) : GetLastError(), row.dwReadError) << row.pszCase;
        EXPECT_EQ(cbRead, row.dwReadError ? 0 : row.raw.size() - 4) << row.pszCase;
    }
}

// ---- The SMBIOS table: the -sim programs' file, and what Windows gives ----

TEST(SimSmbios, UnsetIsATableWithoutIdentityAFileIsReadAsItIs)
{
    std::vector<uint8_t> table = {1, 2, 3};
    uint32_t dwError = 99;
    PcIdentity identity;
    identity.productName = "stale";
    SetEnvironmentVariableA(kSimSmbiosEnvVar, nullptr);
    ASSERT_TRUE(SimReadSmbiosTable(&table, &dwError));
    EXPECT_EQ(dwError, 0u);
    EXPECT_TRUE(ParseSmbiosIdentity(table.data(), table.size(), &identity));
    EXPECT_EQ(identity.productName + identity.systemMaker + identity.firmwareVersion, "");

    const std::string path = TempFilePath("smbios.bin");
    const struct
    {
        std::vector<BYTE> file;
        bool blFile;
        DWORD dwError;
    } rows[] = {
        {Counting(300), true, 0},          // byte for byte, whatever it holds
        {{}, true, 0},                     // empty: read, then not whole
        {{}, false, ERROR_FILE_NOT_FOUND}, // missing
        {Counting(kSmbiosTableMaxBytes + 1), true, ERROR_INVALID_DATA}, // beyond any table
    };
    SetEnvironmentVariableA(kSimSmbiosEnvVar, path.c_str());
    for (const auto& row : rows)
    {
        DeleteFileA(path.c_str());
        if (row.blFile)
        {
            FILE* pFile = fopen(path.c_str(), "wb");
            ASSERT_TRUE(pFile);
            if (!row.file.empty())
                fwrite(row.file.data(), 1, row.file.size(), pFile);
            fclose(pFile);
        }
        table = {1, 2, 3};
        EXPECT_EQ(SimReadSmbiosTable(&table, &dwError), row.dwError == 0) << row.file.size();
        EXPECT_EQ(dwError, row.dwError) << row.file.size();
        EXPECT_EQ(table, row.dwError ? std::vector<BYTE>() : row.file) << row.file.size();
    }
    DeleteFileA(path.c_str());
    // Set but empty, and a path too long for Windows: errors, not the empty table.
    SetEnvironmentVariableA(kSimSmbiosEnvVar, "");
    EXPECT_FALSE(SimReadSmbiosTable(&table, &dwError));
    EXPECT_NE(dwError, 0u);
    SetEnvironmentVariableA(kSimSmbiosEnvVar, std::string(MAX_PATH + 10, 'a').c_str());
    EXPECT_FALSE(SimReadSmbiosTable(&table, &dwError));
    EXPECT_EQ(dwError, DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_TRUE(table.empty());
    SetEnvironmentVariableA(kSimSmbiosEnvVar, nullptr);
}

namespace
{

// A value of /sys/class/dmi/id as Wine puts it into its table (one line end
// dropped; a missing or empty file gives no string) and the parser shows it.
std::string DmiValue(const char* pszLeaf)
{
    const std::vector<BYTE> raw = ReadWholeFile(std::string("Z:\\sys\\class\\dmi\\id\\") + pszLeaf);
    std::string value(raw.begin(), raw.end());
    if (!value.empty() && value.back() == '\n')
        value.pop_back();
    for (char& ch : value)
        if (ch < 0x20 || ch > 0x7E)
            ch = '?';
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    return value;
}

} // namespace

// The release programs' source: Windows' copy of the firmware's table. Under
// Wine that is a table Wine builds from Linux's /sys/class/dmi/id (no strings
// where the files are missing, as on this build machine): it reads whole,
// and each value is the file's (Wine keeps at most 127 bytes of a file, so a
// long value need only begin the same).
TEST(SmbiosSource, RealTableReadsWholeAndUnderWineShowsLinuxDmiValues)
{
    std::vector<uint8_t> table;
    uint32_t dwError = 99;
    ASSERT_TRUE(ReadSmbiosTable(&table, &dwError)) << dwError;
    EXPECT_EQ(dwError, 0u);
    PcIdentity identity;
    EXPECT_TRUE(ParseSmbiosIdentity(table.data(), table.size(), &identity));
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        return; // real firmware: its own values
    const struct
    {
        const char* pszLeaf;
        const std::string& value;
    } rows[] = {
        {"sys_vendor", identity.systemMaker},
        {"product_name", identity.productName},
        {"product_sku", identity.sku},
        {"bios_vendor", identity.firmwareVendor},
        {"bios_version", identity.firmwareVersion},
        {"bios_date", identity.firmwareDate},
    };
    for (const auto& row : rows)
    {
        const std::string expected = DmiValue(row.pszLeaf);
        if (expected.size() <= 64)
            EXPECT_EQ(row.value, expected) << row.pszLeaf;
        else
            EXPECT_TRUE(!row.value.empty() && expected.compare(0, row.value.size(), row.value) == 0)
                << row.pszLeaf << ": " << row.value;
    }
}
