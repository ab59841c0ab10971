// The simulated variable store behaves like firmware behind Windows: each
// call judged by legacy, privilege, parameters, then the variable.
#include "sim/efivar_store.h"
#include "test_support.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(SetError(nullptr, "bad", ab, 4), DWORD(ERROR_INVALID_FUNCTION));

    SetEnvironmentVariableA(kSimStoreEnvVar, "C:\\no\\such\\folder");
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, 4), DWORD(ERROR_INVALID_FUNCTION));
    SetEnvironmentVariableA(kSimStoreEnvVar, nullptr);
    SetPrivilege(true);
}

TEST_F(SimStore, PrivilegeIsCheckedBeforeParameters)
{
    store.Put(kSetupFile, {1, 2, 3});
    SetPrivilege(false);
    BYTE ab[8];
    EXPECT_EQ(GetError("Setup", kTestGuid, ab, 8), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_EQ(GetError(nullptr, "not a guid"), DWORD(ERROR_PRIVILEGE_NOT_HELD));
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
    // A name that would reach outside the store's folder.
    EXPECT_EQ(SetError("..\\Escape", kTestGuid, ab, 8), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(store.Files().empty());

    const char* pszZero = "{00000000-0000-0000-0000-000000000000}";
    EXPECT_EQ(GetError("", pszZero), DWORD(ERROR_NOACCESS));
    EXPECT_EQ(SetError("", pszZero, ab, 8), DWORD(ERROR_NOACCESS));
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

    store.Put(kSetupFile, Counting(100), 0x27);
    EXPECT_TRUE(SimSetFirmwareEnvironmentVariableA("Setup", kTestGuid, data.data(), 5));
    EXPECT_EQ(store.Raw(kSetupFile), expected);
    // Only the variable remains: the temporary file was renamed over it.
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

TEST_F(SimStore, WriteProtectedVariableStaysAsItWas)
{
    store.Put(kSetupFile, {9, 8, 7}, 0x27);
    std::vector<BYTE> before = store.Raw(kSetupFile);
    store.SetReadOnly(kSetupFile, true);
    BYTE ab[3] = {1, 1, 1};
    EXPECT_EQ(SetError("Setup", kTestGuid, ab, 3), DWORD(ERROR_WRITE_PROTECT));
    EXPECT_EQ(SetError("Setup", kTestGuid, ab, 0), DWORD(ERROR_WRITE_PROTECT));
    EXPECT_EQ(store.Raw(kSetupFile), before);
    EXPECT_EQ(store.Files(), std::vector<std::string>{kSetupFile});
}
