// The two passes over the command line.
#include "driver/cmdline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <cstring>
#include <string>
#include <vector>

namespace
{

uint8_t g_abNameBlock[kNameBlockSize];
int g_nNameBlockAllocs = 0;

uint8_t* FakeNameBlock(void** phMem)
{
    ++g_nNameBlockAllocs;
    memset(g_abNameBlock, 0, sizeof g_abNameBlock);
    *phMem = g_abNameBlock;
    return g_abNameBlock;
}

uint8_t* NoNameBlock(void**)
{
    return nullptr;
}

// The texts outlive every Args: the passes keep pointers into them.
std::deque<std::string>& ArgTexts()
{
    static std::deque<std::string> texts;
    return texts;
}

struct Args
{
    std::vector<const char*> argv;
    Args(std::initializer_list<std::string> list)
    {
        argv.push_back("Ardentis64.exe");
        for (const std::string& text : list)
            argv.push_back(ArgTexts().emplace_back(text).c_str());
    }
    int argc() const { return static_cast<int>(argv.size()); }
};

FirstPassResult First(const Args& args, ToolSettings& s, NameBlockAllocator pfn = FakeNameBlock)
{
    return RunFirstPass(args.argc(), args.argv.data(), s, pfn);
}

SecondPassAction Second(const Args& args, ToolSettings& s)
{
    return RunSecondPass(args.argc(), args.argv.data(), s);
}

} // namespace

TEST(HexDigitValue, OnlyUpperCaseAndNonZeroDigitsCount)
{
    EXPECT_EQ(HexDigitValue('1'), 1);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    for (char ch : {'0', 'a', 'f', 'G', '{', '-', ' ', '\0'})
        EXPECT_EQ(HexDigitValue(ch), 0) << ch;
}

TEST(ArgIs, WholeArgumentIgnoringAsciiCase)
{
    EXPECT_TRUE(ArgIs("/SETVAR", "/Setvar"));
    EXPECT_TRUE(ArgIs("-UeFi", "-uefi"));
    EXPECT_FALSE(ArgIs("/Setvars", "/Setvar"));
    EXPECT_FALSE(ArgIs("/Set", "/Setvar"));
    EXPECT_FALSE(ArgIs("", "/Setvar"));
    EXPECT_FALSE(ArgIs("/S\xC9TVAR", "/S\xE9tvar")); // only ASCII letters fold
}

TEST(ScanHex, WidthCountsSignAndPrefix)
{
    uint32_t v = 77;
    EXPECT_TRUE(ScanHex("1A", 4, &v));
    EXPECT_EQ(v, 0x1Au);
    EXPECT_TRUE(ScanHex("12345", 4, &v)); // five digits: the first four
    EXPECT_EQ(v, 0x1234u);
    EXPECT_TRUE(ScanHex("-FFFF", 4, &v)); // sign takes one of the four
    EXPECT_EQ(static_cast<int32_t>(v), -0xFFF);
    EXPECT_TRUE(ScanHex("0x1234", 4, &v));
    EXPECT_EQ(v, 0x12u);
    EXPECT_TRUE(ScanHex("  ff", 2, &v)); // leading blanks do not count
    EXPECT_EQ(v, 0xFFu);
    EXPECT_TRUE(ScanHex("+5", 2, &v));
    EXPECT_EQ(v, 5u);
    EXPECT_TRUE(ScanHex("7z", 0, &v));
    EXPECT_EQ(v, 7u);
    EXPECT_TRUE(ScanHex("1FFFFFFFF", 0, &v)); // wraps modulo 2^32
    EXPECT_EQ(v, 0xFFFFFFFFu);
}

TEST(ScanHex, NoDigitLeavesValueAlone)
{
    uint32_t v = 77;
    for (const char* psz : {"", "z", "-", "+", " ", "?", "-z"})
    {
        EXPECT_FALSE(ScanHex(psz, 0, &v)) << psz;
        EXPECT_EQ(v, 77u);
    }
    EXPECT_FALSE(ScanHex("-5", 1, &v)); // the width ends after the sign
    EXPECT_EQ(v, 77u);
}

TEST(FirstPass, UefiNameAndGuidPointAtArguments)
{
    ToolSettings s;
    Args a{"-uefi", "-name", "Setup", "-guid", "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}"};
    ASSERT_EQ(First(a, s), FirstPassResult::Ok);
    EXPECT_TRUE(s.blUefi);
    EXPECT_EQ(s.pszVarName, a.argv[3]);
    EXPECT_EQ(s.pszVarGuid, a.argv[5]);
    EXPECT_FALSE(s.blNameBuffer);
    EXPECT_FALSE(s.blGuidBytes);
}

TEST(FirstPass, UefiAfterNameAndGuidLeavesThemUnset)
{
    ToolSettings s;
    g_nNameBlockAllocs = 0;
    Args a{"-name", "N", "-guid", "abc", "-uefi"};
    ASSERT_EQ(First(a, s), FirstPassResult::Ok);
    EXPECT_EQ(s.pszVarName, nullptr);
    EXPECT_EQ(s.pszVarGuid, nullptr);
    EXPECT_TRUE(s.blNameBuffer);
    EXPECT_EQ(g_nNameBlockAllocs, 1);
    EXPECT_EQ(s.wNameLen, 1);
    EXPECT_STREQ(reinterpret_cast<char*>(s.pNameBuf), "N");
    // abc pads to 0ABC and pairs up.
    EXPECT_TRUE(s.blGuidBytes);
    EXPECT_STREQ(s.szGuidText, "0ABC");
    EXPECT_EQ(s.wGuidTextLen, 4);
    EXPECT_EQ(s.abGuid[0], 0x0A);
    EXPECT_EQ(s.abGuid[1], 0xBC);
    EXPECT_EQ(s.abGuid[2], 0x00);
}

TEST(FirstPass, GuidConversionCountsNonDigitsAsZero)
{
    ToolSettings s;
    Args a{"-guid", "{12-3f}"};
    ASSERT_EQ(First(a, s), FirstPassResult::Ok);
    EXPECT_STREQ(s.szGuidText, "0{12-3F}");
    const uint8_t abExpected[] = {0x00, 0x12, 0x03, 0xF0};
    EXPECT_EQ(memcmp(s.abGuid, abExpected, sizeof abExpected), 0);
}

TEST(FirstPass, EveryOptionOfTheTable)
{
    ToolSettings s;
    Args a{"$$",
           "/GPIOR",
           "-pwmi",
           "-retry",
           "12",
           "-usevar",
           "-readbootorder",
           "-debug",
           "-securityboot",
           "sb.bin",
           "-searchstring",
           "Boot",
           "-setvalue",
           "1f",
           "-offset",
           "0x2A",
           "-LOAD",
           "def.txt"};
    ASSERT_EQ(First(a, s), FirstPassResult::Ok);
    EXPECT_EQ(s.nRetry, 12);
    EXPECT_TRUE(s.blUseVar);
    EXPECT_TRUE(s.blReadBootOrder);
    EXPECT_TRUE(s.blDebugOption);
    EXPECT_TRUE(s.blSecurityBoot);
    EXPECT_STREQ(s.szSecurityBootFile, "sb.bin");
    EXPECT_TRUE(s.blSearchString);
    EXPECT_STREQ(s.szSearchString, "Boot");
    EXPECT_EQ(s.dwSetValue, 0x1Fu);
    EXPECT_EQ(s.dwOffset, 0x2Au);
    EXPECT_STREQ(s.szDefFile, "def.txt");
    EXPECT_EQ(s.dwDefMode, 2u);
    EXPECT_FALSE(s.blUefi);

    ToolSettings t;
    ASSERT_EQ(First(Args{"-save", "x"}, t), FirstPassResult::Ok);
    EXPECT_EQ(t.dwDefMode, 1u);
}

TEST(FirstPass, RequiredFileNameMissing)
{
    for (const char* pszOption : {"-savedef", "-save", "-loaddef", "-load", "-securityboot"})
    {
        ToolSettings s;
        EXPECT_EQ(First(Args{"-uefi", pszOption}, s), FirstPassResult::MissingFileName)
            << pszOption;
    }
}

TEST(FirstPass, OptionalValuesAsLastArgumentAreIgnored)
{
    for (const char* pszOption :
         {"-searchstring", "-setvalue", "-offset", "-retry", "-name", "-guid"})
    {
        ToolSettings s;
        g_nNameBlockAllocs = 0;
        EXPECT_EQ(First(Args{pszOption}, s), FirstPassResult::Ok) << pszOption;
        EXPECT_EQ(s.nRetry, 5);
        EXPECT_FALSE(s.blSearchString);
        EXPECT_FALSE(s.blNameBuffer);
        EXPECT_FALSE(s.blGuidBytes);
        EXPECT_EQ(g_nNameBlockAllocs, 0);
        ToolSettings u;
        EXPECT_EQ(First(Args{"-uefi", pszOption}, u), FirstPassResult::Ok);
        EXPECT_EQ(u.pszVarName, nullptr);
        EXPECT_EQ(u.pszVarGuid, nullptr);
    }
}

TEST(FirstPass, NameBlockAllocationFailure)
{
    ToolSettings s;
    EXPECT_EQ(First(Args{"-name", "N"}, s, NoNameBlock), FirstPassResult::NameBlockAllocFailed);
    EXPECT_TRUE(s.blNameBuffer);
}

TEST(FirstPass, ValuesAreScannedAsArgumentsToo)
{
    // A value spelling an option acts as one.
    ToolSettings s;
    Args a{"-searchstring", "-uefi", "-name", "X"};
    ASSERT_EQ(First(a, s), FirstPassResult::Ok);
    EXPECT_STREQ(s.szSearchString, "-uefi");
    EXPECT_TRUE(s.blUefi);
    EXPECT_STREQ(s.pszVarName, "X");
}

TEST(FirstPass, OverlongValuesAreCutToTheirFields)
{
    std::string huge(5000, 'q');
    ToolSettings s;
    ASSERT_EQ(First(Args{"-save", huge, "-securityboot", huge, "-searchstring", huge}, s),
              FirstPassResult::Ok);
    EXPECT_EQ(strlen(s.szDefFile), kFileNameField - 1);
    EXPECT_EQ(strlen(s.szSecurityBootFile), kFileNameField - 1);
    EXPECT_EQ(strlen(s.szSearchString), kFileNameField - 1);

    std::string hexText(999, 'F'); // odd: padded, then cut to 255
    ToolSettings g;
    ASSERT_EQ(First(Args{"-guid", hexText, "-name", huge}, g), FirstPassResult::Ok);
    EXPECT_EQ(g.wGuidTextLen, kGuidTextField - 1);
    EXPECT_EQ(g.abGuid[0], 0x0F);
    EXPECT_EQ(g.abGuid[126], 0xFF);
    EXPECT_EQ(g.abGuid[127], 0xF0); // last digit paired with the terminator
    EXPECT_EQ(g.abGuid[128], 0x00);
    EXPECT_EQ(g.wNameLen, kNameBlockSize);
    EXPECT_EQ(g_abNameBlock[kNameBlockSize - 1], 'q');

    // The name block is counted: 1024 characters fill it whole, only longer
    // names are cut, shorter ones keep the zero fill behind them.
    for (size_t cchName : {kNameBlockSize - 1, kNameBlockSize, kNameBlockSize + 1})
    {
        SCOPED_TRACE(cchName);
        std::string name(cchName, 'n');
        name.back() = 'z';
        ToolSettings n;
        ASSERT_EQ(First(Args{"-name", name}, n), FirstPassResult::Ok);
        size_t cchKept = std::min(cchName, kNameBlockSize);
        EXPECT_EQ(n.wNameLen, cchKept);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(g_abNameBlock), cchKept),
                  name.substr(0, cchKept));
        if (cchName < kNameBlockSize)
        {
            EXPECT_EQ(g_abNameBlock[cchName], 0);
        }
    }
}

TEST(SecondPass, NoCommandMeansUsage)
{
    ToolSettings s;
    EXPECT_EQ(Second(Args{}, s).kind, ActionKind::Usage);
    EXPECT_EQ(Second(Args{"-uefi", "-name", "N"}, s).kind, ActionKind::Usage);
}

TEST(SecondPass, FirstHelpOrCommandDecides)
{
    ToolSettings s;
    EXPECT_EQ(Second(Args{"/?", "/Delvar"}, s).kind, ActionKind::Usage);
    EXPECT_EQ(Second(Args{"/Delvar", "/?"}, s).kind, ActionKind::Delvar);
    for (const char* pszHelp : {"?", "/h", "/HELP", "/H"})
        EXPECT_EQ(Second(Args{pszHelp}, s).kind, ActionKind::Usage) << pszHelp;
    // "-act" after the command is never examined.
    EXPECT_EQ(Second(Args{"/delvar", "-act", "2"}, s).kind, ActionKind::Delvar);
}

TEST(SecondPass, SetvarReadsOffsetAndData)
{
    ToolSettings s;
    SecondPassAction a = Second(Args{"-uefi", "/Setvar", "1A", "5"}, s);
    ASSERT_EQ(a.kind, ActionKind::Setvar);
    EXPECT_EQ(a.nOffset, 0x1A);
    EXPECT_EQ(a.bData, 0x05);

    a = Second(Args{"/SETVAR", "1ffff", "-1"}, s);
    EXPECT_EQ(a.nOffset, 0x1FFF);
    EXPECT_EQ(a.bData, 0xFF);

    a = Second(Args{"/setvar", "-1", "xyz"}, s);
    EXPECT_EQ(a.nOffset, -1);
    EXPECT_EQ(a.bData, 0);

    a = Second(Args{"/Setvar", "zz", "123"}, s);
    EXPECT_EQ(a.nOffset, 0);
    EXPECT_EQ(a.bData, 0x12);
}

TEST(SecondPass, MissingCommandArguments)
{
    ToolSettings s;
    EXPECT_EQ(Second(Args{"/Setvar", "10"}, s).kind, ActionKind::SetvarMissingArgs);
    EXPECT_EQ(Second(Args{"/Setvar"}, s).kind, ActionKind::SetvarMissingArgs);
    EXPECT_EQ(Second(Args{"/getvar"}, s).kind, ActionKind::GetvarMissingFile);
    SecondPassAction a = Second(Args{"/Getvar", "out.txt"}, s);
    EXPECT_EQ(a.kind, ActionKind::Getvar);
    EXPECT_STREQ(a.pszFile, "out.txt");
}

TEST(SecondPass, ActPolicyValues)
{
    struct Row
    {
        const char* pszValue;
        ActionKind kind;
        uint8_t bPolicy;
    } rows[] = {
        {"2", ActionKind::ActInvalid, 0x02}, {"ff", ActionKind::Getvar, 0xFF},
        {"1", ActionKind::Getvar, 0x01},     {"0", ActionKind::Getvar, 0x00},
        {"100", ActionKind::Getvar, 0x00},   {"1FF", ActionKind::Getvar, 0xFF},
        {"zz", ActionKind::Getvar, 0x00},    {"-1", ActionKind::Getvar, 0xFF},
    };
    for (const Row& row : rows)
    {
        ToolSettings s;
        SecondPassAction a = Second(Args{"-act", row.pszValue, "/Getvar", "f"}, s);
        EXPECT_EQ(a.kind, row.kind) << row.pszValue;
        EXPECT_EQ(s.bActPolicy, row.bPolicy) << row.pszValue;
    }
    ToolSettings s;
    EXPECT_EQ(Second(Args{"-policy"}, s).kind, ActionKind::ActMissing);
    // "?" holds no number: the policy stays, and then asks for the usage.
    EXPECT_EQ(Second(Args{"-act", "?", "/Delvar"}, s).kind, ActionKind::Usage);
    // An earlier valid value is kept by a later text without digits.
    ToolSettings t;
    EXPECT_EQ(Second(Args{"-act", "ff", "-act", "q", "/Delvar"}, t).kind, ActionKind::Delvar);
    EXPECT_EQ(t.bActPolicy, 0xFF);
}
