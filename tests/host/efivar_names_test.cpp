// Naming rules of the simulated variable store.
#include "sim/efivar_names.h"

#include <gtest/gtest.h>

TEST(EfivarNames, BracedGuidOfEitherCase)
{
    EXPECT_TRUE(IsBracedGuid("{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}"));
    EXPECT_TRUE(IsBracedGuid("{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}"));
    EXPECT_FALSE(IsBracedGuid("ec87d643-eba4-4bb5-a1e5-3f3e36b20da9"));
    EXPECT_FALSE(IsBracedGuid("{ec87d643-eba4-4bb5-a1e5-3f3e36b20da}"));
    EXPECT_FALSE(IsBracedGuid("{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}x"));
    EXPECT_FALSE(IsBracedGuid("{ec87d643_eba4-4bb5-a1e5-3f3e36b20da9}"));
    EXPECT_FALSE(IsBracedGuid("{gc87d643-eba4-4bb5-a1e5-3f3e36b20da9}"));
    EXPECT_FALSE(IsBracedGuid(""));
    EXPECT_TRUE(IsZeroGuid("{00000000-0000-0000-0000-000000000000}"));
    EXPECT_FALSE(IsZeroGuid("{00000000-0000-0000-0000-000000000001}"));
}

TEST(EfivarNames, FileNameIsEfivarfsStyle)
{
    EXPECT_EQ(VariableFileName("Setup", "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}"),
              "Setup-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9");
}

TEST(EfivarNames, NamesThatCouldLeaveTheFolderAreRefused)
{
    EXPECT_TRUE(IsStorableName("Setup"));
    EXPECT_TRUE(IsStorableName("Boot0001"));
    EXPECT_TRUE(IsStorableName("")); // stored as "-<guid>"
    for (const char* psz :
         {"..\\x", "a/b", "C:x", "a*", "a?", "a\"", "a<", "a>", "a|", ".", "..", "a\x01"})
        EXPECT_FALSE(IsStorableName(psz)) << psz;
}
