// Naming rules of the simulated variable store.
#include "sim/efivar_names.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

namespace
{

constexpr const char* kGuid = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}";
// The end of every file name of kGuid.
std::string GuidFile()
{
    return "-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9";
}

std::string Folded(std::string text)
{
    for (char& ch : text)
        ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    return text;
}

// Both forms of a name decode back to it, and hold nothing a Windows file
// name cannot.
void ExpectRoundTrip(const std::string& name)
{
    for (const std::string& fileName :
         {VariableFileName(name.c_str(), kGuid), CaseSafeVariableFileName(name.c_str(), kGuid)})
    {
        std::string decoded;
        std::string guid;
        ASSERT_TRUE(ParseVariableFileName(fileName, &decoded, &guid)) << fileName;
        EXPECT_EQ(decoded, name) << fileName;
        EXPECT_EQ(guid, GuidFile().substr(1));
        for (char ch : fileName)
        {
            unsigned char b = static_cast<unsigned char>(ch);
            EXPECT_TRUE(b >= 0x20 && b < 0x7F && !strchr("\\/:*?\"<>|", b)) << fileName;
        }
    }
}

} // namespace

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
}

// Name, its plain file name and its case-safe one (GUID part left off).
struct FileNameRow
{
    const char* pszName;
    const char* pszPlain;
    const char* pszCaseSafe;
};

const FileNameRow kFileNames[] = {
    {"Setup", "Setup", "^^Setup"}, // as efivarfs names it
    {"SETUP", "SETUP", "^^S^E^T^U^P"},
    {"setup", "setup", "^setup"},
    {"Boot0001", "Boot0001", "^^Boot0001"},
    {"db", "db", "^db"},
    {"My-Var.x y", "My-Var.x y", "^^My-^Var.x y"}, // '-', '.' and spaces stay
    {"..", "..", "^.."},
    {"..\\x", "..%5Cx", "^..%5Cx"}, // cannot leave the folder
    {"a/b:c*d?e\"f<g>h|i", "a%2Fb%3Ac%2Ad%3Fe%22f%3Cg%3Eh%7Ci",
     "^a%2Fb%3Ac%2Ad%3Fe%22f%3Cg%3Eh%7Ci"},
    {"100%^", "100%25%5E", "^100%25%5E"}, // the scheme's own characters
    {"\x01\x1F\x7F", "%01%1F%7F", "^%01%1F%7F"},
    {"S\xE9", "S%E9", "^^S%E9"}, // non-ASCII: Windows folds its case too
};

TEST(EfivarNames, FileNamesKeepEfivarfsNamesAndEscapeTheRest)
{
    for (const FileNameRow& row : kFileNames)
    {
        SCOPED_TRACE(row.pszName);
        EXPECT_EQ(VariableFileName(row.pszName, kGuid), row.pszPlain + GuidFile());
        EXPECT_EQ(CaseSafeVariableFileName(row.pszName, kGuid), row.pszCaseSafe + GuidFile());
        ExpectRoundTrip(row.pszName);
    }
    EXPECT_EQ(VariableFileName("Setup", "{ec87d643-EBA4-4bb5-a1e5-3f3e36b20da9}"),
              "Setup" + GuidFile());
}

TEST(EfivarNames, EveryByteRoundTripsAndCaseTwinsNeverShareACaseSafeFile)
{
    // Every single byte, and every byte between two letters.
    for (int b = 1; b < 256; ++b)
    {
        SCOPED_TRACE(b);
        ExpectRoundTrip(std::string(1, static_cast<char>(b)));
        ExpectRoundTrip("aB" + std::string(1, static_cast<char>(b)) + "Cd");
    }
    // All 2^5 case variants of one name: 32 case-safe files that stay
    // distinct when the file system folds case, none equal to a plain file.
    std::set<std::string> folded;
    for (unsigned nMask = 0; nMask < 32; ++nMask)
    {
        std::string name = "setup";
        for (unsigned i = 0; i < 5; ++i)
            if (nMask & (1u << i))
                name[i] = static_cast<char>(toupper(static_cast<unsigned char>(name[i])));
        folded.insert(Folded(CaseSafeVariableFileName(name.c_str(), kGuid)));
    }
    EXPECT_EQ(folded.size(), 32u);
    EXPECT_EQ(folded.count(Folded(VariableFileName("setup", kGuid))), 0u);
}

TEST(EfivarNames, OnlyWhatTheEncoderWritesParses)
{
    std::string name;
    std::string guid;
    for (const std::string& bad : std::initializer_list<std::string>{
             "", GuidFile(), "Setup" + GuidFile().substr(0, 36), "Setup_" + GuidFile().substr(1),
             "Setup-EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9",
             "Setup-gc87d643-eba4-4bb5-a1e5-3f3e36b20da9", "^" + GuidFile(), "a%2" + GuidFile(),
             "a%2f" + GuidFile(), "a%41" + GuidFile(), "a^b" + GuidFile(), "^Setup" + GuidFile(),
             "^^" + GuidFile(), "^^s" + GuidFile(), "a*b" + GuidFile(),
             std::string("a\x01") + GuidFile(), std::string("a\x80") + GuidFile()})
    {
        EXPECT_FALSE(ParseVariableFileName(bad, &name, &guid)) << bad;
    }
    ASSERT_TRUE(ParseVariableFileName("Setup" + GuidFile(), &name, &guid));
    EXPECT_EQ(name, "Setup");
}
