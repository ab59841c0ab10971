// The three variable commands over the simulated store, asserting on what an
// administrator sees (standard output, the variable, the dump file).
#include "driver/globals.h"
#include "fwvar/firmware_api.h"
#include "fwvar/fwvar_commands.h"
#include "sim/efivar_store.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace
{

const std::string kSetupFile = std::string("Setup-") + kTestGuidFile;
const std::string kNameLines = std::string("Name=Setup\nGUID=") + kTestGuid + "\n";
const std::string kDumpNameLines = std::string("Name=Setup \nGUID=") + kTestGuid + " \n";

// The sizes the store was asked to write, through the seam.
std::vector<DWORD> g_dwWrittenSizes;
BOOL WINAPI CountingSet(LPCSTR lpName, LPCSTR lpGuid, PVOID pValue, DWORD nSize)
{
    g_dwWrittenSizes.push_back(nSize);
    return SimSetFirmwareEnvironmentVariableA(lpName, lpGuid, pValue, nSize);
}

std::vector<BYTE> WithAttributes(const std::vector<BYTE>& data, BYTE bAttributes = 7)
{
    std::vector<BYTE> raw(4 + data.size());
    raw[0] = bAttributes;
    std::copy(data.begin(), data.end(), raw.begin() + 4);
    return raw;
}

class Commands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_ToolSettings = ToolSettings();
        g_ToolSettings.blUefi = true;
        g_ToolSettings.pszVarName = "Setup";
        g_ToolSettings.pszVarGuid = kTestGuid;
        SetPrivilege(false); // each command must enable it itself
        dumpPath = TempFilePath("dump.txt");
        DeleteFileA(dumpPath.c_str());
    }
    void TearDown() override
    {
        DeleteFileA(dumpPath.c_str());
        g_ToolSettings = ToolSettings();
        SetPrivilege(true);
    }

    template <typename F> std::string Run(F command, bool* pblResult)
    {
        testing::internal::CaptureStdout();
        *pblResult = command();
        return testing::internal::GetCapturedStdout();
    }

    ScopedStore store;
    std::string dumpPath;
};

} // namespace

TEST_F(Commands, PrivilegeIsEnabledInTheProcessToken)
{
    EnableFirmwareVariablePrivilege();
    BYTE ab[4];
    SetLastError(0);
    SimGetFirmwareEnvironmentVariableA("Setup", kTestGuid, ab, sizeof ab);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND)); // not 1314 any more
}

TEST_F(Commands, LegacyProbe)
{
    EXPECT_FALSE(IsLegacyBiosBoot()); // the store exists: 1314 or 998, not 1
    SetEnvironmentVariableA(kSimStoreEnvVar, nullptr);
    EXPECT_TRUE(IsLegacyBiosBoot());
}

TEST_F(Commands, SetByteChangesOnlyThatByteAndWritesTheWholeVariable)
{
    std::vector<BYTE> data = Counting(10);
    store.Put(kSetupFile, data);
    bool blOk = false;
    std::string out = Run([] { return SetVariableByte(9, 0x5A); }, &blOk);
    EXPECT_TRUE(blOk);
    EXPECT_EQ(out, kNameLines + "Set variable success!\n");
    data[9] = 0x5A;
    EXPECT_EQ(store.Raw(kSetupFile), WithAttributes(data));
}

TEST_F(Commands, SetByteToItsOwnValueStillWrites)
{
    std::vector<BYTE> data = Counting(4);
    store.Put(kSetupFile, data);
    g_FirmwareVariableApi.pfnSetFirmwareEnvironmentVariableA = CountingSet;
    bool blOk = false;
    Run([&] { return SetVariableByte(2, data[2]); }, &blOk);
    g_FirmwareVariableApi.pfnSetFirmwareEnvironmentVariableA = SimSetFirmwareEnvironmentVariableA;
    EXPECT_TRUE(blOk);
    EXPECT_EQ(g_dwWrittenSizes, std::vector<DWORD>{4}); // written all the same
    EXPECT_EQ(store.Raw(kSetupFile), WithAttributes(data));
}

TEST_F(Commands, OffsetOutsideTheVariableIsRefusedBeforeAnyWrite)
{
    store.Put(kSetupFile, Counting(10), 0x27);
    std::vector<BYTE> before = store.Raw(kSetupFile);
    for (int32_t nOffset : {10, 0xFFFF, -1, -0xFFF})
    {
        bool blOk = true;
        std::string out = Run([&] { return SetVariableByte(nOffset, 1); }, &blOk);
        EXPECT_FALSE(blOk) << nOffset;
        EXPECT_EQ(out, kNameLines + "Offset out of range! Variable size=10\n");
        EXPECT_EQ(store.Raw(kSetupFile), before);
    }
}

TEST_F(Commands, MissingVariableReportsTheOsCode)
{
    bool blOk = true;
    std::string out = Run([] { return SetVariableByte(0, 1); }, &blOk);
    EXPECT_FALSE(blOk);
    EXPECT_EQ(out, kNameLines + "GetVariable Error Code=203\nGet variable failed!\n");
    out = Run([] { return DeleteVariable(); }, &blOk);
    EXPECT_FALSE(blOk);
    EXPECT_EQ(out, kNameLines + "GetVariable Error Code=203\nGet variable failed!\n");
    EXPECT_TRUE(store.Files().empty());
}

TEST_F(Commands, LegacyStopsBeforeThePrivilegeStep)
{
    SetEnvironmentVariableA(kSimStoreEnvVar, nullptr);
    bool blOk = true;
    std::string out = Run([] { return SetVariableByte(0, 1); }, &blOk);
    EXPECT_FALSE(blOk);
    EXPECT_EQ(out, kNameLines + "Windows was installed using legacy BIOS.\n");
    out = Run([] { return DeleteVariable(); }, &blOk);
    EXPECT_EQ(out, kNameLines + "Windows was installed using legacy BIOS.\n");
    // The privilege was never enabled on the way.
    SetEnvironmentVariableA(kSimStoreEnvVar, store.Folder().c_str());
    BYTE b;
    SetLastError(0);
    SimGetFirmwareEnvironmentVariableA("Setup", kTestGuid, &b, 1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PRIVILEGE_NOT_HELD));
}

TEST_F(Commands, UnsetNameAndGuidShowAPlaceholder)
{
    g_ToolSettings.pszVarName = nullptr;
    g_ToolSettings.pszVarGuid = nullptr;
    bool blOk = true;
    std::string out = Run([] { return SetVariableByte(0, 1); }, &blOk);
    EXPECT_FALSE(blOk);
    EXPECT_EQ(out, "Name=(not set)\nGUID=(not set)\nGetVariable Error Code=87\n"
                   "Get variable failed!\n");
}

TEST_F(Commands, FourMebibytesIsTheLargestReadableVariable)
{
    store.Put(kSetupFile, Counting(kVariableWorkBufferSize));
    EnableFirmwareVariablePrivilege();
    VariableCopy copy;
    ASSERT_TRUE(ReadFirmwareVariable("Setup", kTestGuid, &copy));
    EXPECT_EQ(copy.dwSize, kVariableWorkBufferSize);
    EXPECT_EQ(copy.pbData[kVariableWorkBufferSize - 1], Counting(kVariableWorkBufferSize).back());
    free(copy.pbData);

    store.Put(kSetupFile, Counting(kVariableWorkBufferSize + 1));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ReadFirmwareVariable("Setup", kTestGuid, &copy));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetVariable Error Code=122\n");
}

TEST_F(Commands, DeleteRemovesTheVariable)
{
    store.Put(kSetupFile, Counting(3));
    bool blOk = false;
    std::string out = Run([] { return DeleteVariable(); }, &blOk);
    EXPECT_TRUE(blOk);
    EXPECT_EQ(out, kNameLines + "Set variable success!\n");
    EXPECT_FALSE(store.Exists(kSetupFile));
}

// Variables the store refuses to change: the command reports the store's
// code as it found it (hexadecimal for the write, decimal for the read).
struct RefusedChangeRow
{
    const char* pszCase;
    std::vector<BYTE> raw; // the variable's file, attribute word first
    bool blReadOnly;
    const char* pszMessage; // after the name lines, for /Setvar and /Delvar alike
};

const char* const kFail13 = "Set variable fail. Error code=13\n";
const char* const kFail57 = "Set variable fail. Error code=57\n";
const char* const kRead1392 = "GetVariable Error Code=1392\nGet variable failed!\n";
const RefusedChangeRow kRefusedChanges[] = {
    {"write-protected file", {7, 0, 0, 0, 3, 10, 17}, true, kFail13},
    {"volatile, 6", {6, 0, 0, 0, 3, 10, 17}, false, kFail13},
    {"authenticated, 0x27", {0x27, 0, 0, 0, 3, 10, 17}, false, kFail57},
    {"shorter than its attribute word", {7, 0}, false, kRead1392},
};

TEST_F(Commands, RefusedChangeReportsTheCodeAndLeavesTheVariable)
{
    for (const RefusedChangeRow& row : kRefusedChanges)
    {
        SCOPED_TRACE(row.pszCase);
        store.PutRaw(kSetupFile, row.raw);
        store.SetReadOnly(kSetupFile, row.blReadOnly);
        bool blOk = true;
        std::string out = Run([] { return SetVariableByte(1, 0); }, &blOk);
        EXPECT_FALSE(blOk);
        EXPECT_EQ(out, kNameLines + row.pszMessage);
        out = Run([] { return DeleteVariable(); }, &blOk);
        EXPECT_FALSE(blOk);
        EXPECT_EQ(out, kNameLines + row.pszMessage);
        EXPECT_EQ(store.Raw(kSetupFile), row.raw);
        store.SetReadOnly(kSetupFile, false);
    }
}

TEST_F(Commands, DumpWritesTheHexTextByteExact)
{
    std::vector<BYTE> data(17);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(0xF0 + i);
    store.Put(kSetupFile, data);
    bool blOk = false;
    std::string path = dumpPath;
    std::string out = Run([&] { return DumpVariableToFile(path.c_str()); }, &blOk);
    EXPECT_TRUE(blOk);
    EXPECT_EQ(out, kDumpNameLines + "Get variable and save to file success.\n");
    std::string expected = "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF \r\n00 ";
    std::vector<BYTE> file = ReadWholeFile(dumpPath);
    EXPECT_EQ(std::string(file.begin(), file.end()), expected);
}

TEST_F(Commands, FailedDumpLeavesTheFileEmpty)
{
    // An existing file is emptied even though the variable is missing.
    FILE* pOld = fopen(dumpPath.c_str(), "wb");
    fputs("old contents", pOld);
    fclose(pOld);
    bool blOk = true;
    std::string path = dumpPath;
    std::string out = Run([&] { return DumpVariableToFile(path.c_str()); }, &blOk);
    EXPECT_FALSE(blOk);
    EXPECT_EQ(out, kDumpNameLines + "GetVariable Error Code=203\nGet variable failed!\n");
    _fcloseall(); // the tool leaves it to the end of the process
    EXPECT_TRUE(ReadWholeFile(dumpPath).empty());
    EXPECT_NE(GetFileAttributesA(dumpPath.c_str()), INVALID_FILE_ATTRIBUTES);

    // Legacy: the probe comes before the name lines.
    SetEnvironmentVariableA(kSimStoreEnvVar, nullptr);
    out = Run([&] { return DumpVariableToFile(path.c_str()); }, &blOk);
    EXPECT_FALSE(blOk);
    EXPECT_EQ(out, "Windows was installed using legacy BIOS.\n");
    _fcloseall();
    EXPECT_TRUE(ReadWholeFile(dumpPath).empty());
}

TEST_F(Commands, DumpOfALargeVariableMatchesTheFormatter)
{
    std::vector<BYTE> data = Counting(200003); // crosses the internal chunk size
    store.Put(kSetupFile, data);
    bool blOk = false;
    std::string path = dumpPath;
    Run([&] { return DumpVariableToFile(path.c_str()); }, &blOk);
    ASSERT_TRUE(blOk);
    std::vector<BYTE> file = ReadWholeFile(dumpPath);
    ASSERT_EQ(file.size(), 3 * data.size() + 2 * ((data.size() + 15) / 16 - 1));
    char szEntry[4];
    for (size_t i : {size_t(0), size_t(65535), size_t(65536), size_t(200002)})
    {
        size_t nPos = 3 * i + 2 * (i / 16);
        snprintf(szEntry, sizeof szEntry, "%02X ", data[i]);
        EXPECT_EQ(std::string(file.begin() + nPos, file.begin() + nPos + 3), szEntry) << i;
    }
}
