// The three variable commands over the simulated store, asserting on what an
// administrator sees (standard output, the variable, the dump file).
#include "driver/globals.h"
#include "fwvar/firmware_api.h"
#include "driver/variable_commands.h"
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

// What the read of each command was handed for the name and the GUID.
std::vector<std::pair<std::string, std::string>> g_readArguments;
bool g_blNullPassed = false;
DWORD WINAPI RecordingGet(LPCSTR lpName, LPCSTR lpGuid, PVOID pBuffer, DWORD nSize)
{
    if (pBuffer) // not the legacy probe
    {
        g_blNullPassed = g_blNullPassed || !lpName || !lpGuid;
        g_readArguments.emplace_back(lpName ? lpName : "(null)", lpGuid ? lpGuid : "(null)");
    }
    return SimGetFirmwareEnvironmentVariableA(lpName, lpGuid, pBuffer, nSize);
}

// An unset name or GUID goes to Windows as the empty text, never as a null
// pointer: the store refuses an empty GUID text with 87 and the empty name
// with 998, as Windows does; the lines show the placeholder.
struct UnsetRow
{
    bool blName;
    bool blGuid;
    const char* pszLines;
    DWORD dwError;
};

const UnsetRow kUnsetRows[] = {
    {false, false, "Name=(not set)\nGUID=(not set)\n", ERROR_INVALID_PARAMETER},
    {false, true, "Name=(not set)\nGUID={EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}\n", ERROR_NOACCESS},
    {true, false, "Name=Setup\nGUID=(not set)\n", ERROR_INVALID_PARAMETER},
};

TEST_F(Commands, UnsetNameAndGuidShowAPlaceholder)
{
    store.Put(kSetupFile, Counting(4));
    g_FirmwareVariableApi.pfnGetFirmwareEnvironmentVariableA = RecordingGet;
    for (const UnsetRow& row : kUnsetRows)
    {
        SCOPED_TRACE(row.pszLines);
        g_ToolSettings.pszVarName = row.blName ? "Setup" : nullptr;
        g_ToolSettings.pszVarGuid = row.blGuid ? kTestGuid : nullptr;
        std::string failure =
            "GetVariable Error Code=" + std::to_string(row.dwError) + "\nGet variable failed!\n";
        g_readArguments.clear();
        bool blOk = true;
        EXPECT_EQ(Run([] { return SetVariableByte(0, 1); }, &blOk), row.pszLines + failure);
        EXPECT_FALSE(blOk);
        EXPECT_EQ(Run([] { return DeleteVariable(); }, &blOk), row.pszLines + failure);
        EXPECT_FALSE(blOk);
        std::pair<std::string, std::string> passed(row.blName ? "Setup" : "",
                                                   row.blGuid ? kTestGuid : "");
        EXPECT_EQ(g_readArguments, (std::vector<std::pair<std::string, std::string>>(2, passed)));
    }
    g_FirmwareVariableApi.pfnGetFirmwareEnvironmentVariableA = SimGetFirmwareEnvironmentVariableA;
    EXPECT_FALSE(g_blNullPassed);
    EXPECT_EQ(store.Raw(kSetupFile), WithAttributes(Counting(4)));
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
const char* const kRead203 = "GetVariable Error Code=203\nGet variable failed!\n";
const RefusedChangeRow kRefusedChanges[] = {
    {"write-protected file", {7, 0, 0, 0, 3, 10, 17}, true, kFail13},
    {"volatile, 6", {6, 0, 0, 0, 3, 10, 17}, false, kFail13},
    {"authenticated, 0x27", {0x27, 0, 0, 0, 3, 10, 17}, false, kFail57},
    {"shorter than its attribute word", {7, 0}, false, kRead1392},
    // Boot services only: invisible once Windows runs, so missing to the tool.
    {"boot services only, 3", {3, 0, 0, 0, 3, 10, 17}, false, kRead203},
    {"boot services only and volatile, 2", {2, 0, 0, 0, 3, 10, 17}, false, kRead203},
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

void* NoMemory(size_t)
{
    return nullptr;
}

// The dump file byte for byte, with the formatting buffer and without it
// (then written line by line): a missing helper buffer never fails a dump.
TEST_F(Commands, DumpWritesTheHexTextByteExact)
{
    const std::string kLine = "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF ";
    for (auto pfnAlloc : {g_pfnAllocDumpText, NoMemory})
    {
        for (size_t cbData : {size_t(1), size_t(16), size_t(17)})
        {
            SCOPED_TRACE(std::to_string(cbData) +
                         (pfnAlloc == NoMemory ? " bytes, no buffer" : " bytes"));
            std::vector<BYTE> data(cbData);
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<BYTE>(0xF0 + i);
            store.Put(kSetupFile, data);
            void* (*pfnDefault)(size_t) = g_pfnAllocDumpText;
            g_pfnAllocDumpText = pfnAlloc;
            bool blOk = false;
            std::string path = dumpPath;
            std::string out = Run([&] { return DumpVariableToFile(path.c_str()); }, &blOk);
            g_pfnAllocDumpText = pfnDefault;
            EXPECT_TRUE(blOk);
            EXPECT_EQ(out, kDumpNameLines + "Get variable and save to file success.\n");
            std::vector<BYTE> file = ReadWholeFile(dumpPath);
            // 16 bytes: one line of 48 characters, its last a space, no line end.
            std::string expected = cbData == 1 ? "F0 " : cbData == 16 ? kLine : kLine + "\r\n00 ";
            EXPECT_EQ(std::string(file.begin(), file.end()), expected);
        }
    }
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
    // Line by line, without the formatting buffer, first: the same file.
    g_pfnAllocDumpText = NoMemory;
    Run([&] { return DumpVariableToFile(path.c_str()); }, &blOk);
    g_pfnAllocDumpText = malloc;
    ASSERT_TRUE(blOk);
    std::vector<BYTE> lineByLine = ReadWholeFile(dumpPath);
    Run([&] { return DumpVariableToFile(path.c_str()); }, &blOk);
    ASSERT_TRUE(blOk);
    std::vector<BYTE> file = ReadWholeFile(dumpPath);
    EXPECT_TRUE(file == lineByLine);
    ASSERT_EQ(file.size(), 3 * data.size() + 2 * ((data.size() + 15) / 16 - 1));
    char szEntry[4];
    for (size_t i : {size_t(0), size_t(65535), size_t(65536), size_t(200002)})
    {
        size_t nPos = 3 * i + 2 * (i / 16);
        snprintf(szEntry, sizeof szEntry, "%02X ", data[i]);
        EXPECT_EQ(std::string(file.begin() + nPos, file.begin() + nPos + 3), szEntry) << i;
    }
}
