// The fleet program's pure logic: command line, guards, record files,
// journal, undo choice, summary line, report and the PC's identity from
// SMBIOS.
#include "fleet/fleet_args.h"
#include "fleet/fleet_guard.h"
#include "fleet/fleet_records.h"
#include "fleet/fleet_report.h"
#include "fleet/fleet_summary.h"
#include "fleet/fleet_undo.h"
#include "fleet/smbios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{

const char* const kGuid = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}";

bool Parse(std::vector<std::string> args, FleetRequest* pRequest, std::string* pError)
{
    std::vector<const char*> argv = {"ArdentisFleet64.exe"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    return ParseFleetArgs(static_cast<int>(argv.size()), argv.data(), pRequest, pError);
}

// The fields with the last made the checksum of those before it, as the
// journal's writer makes it.
RecordFields WithChecksum(RecordFields fields)
{
    const std::string line = FormatRecord(RecordFields(fields.begin(), fields.end() - 1));
    const uint32_t dwCrc = Crc32(line.substr(0, line.size() - 2));
    fields.back().clear();
    for (int nShift = 24; nShift >= 0; nShift -= 8)
        fields.back() += HexByte(static_cast<uint8_t>(dwCrc >> nShift));
    return fields;
}

LogEntry LogRun(const char* pszTime, const char* pszPc, const char* pszOutcome,
                const char* pszReason, const char* pszExit = "0", const char* pszOffset = "1A",
                const char* pszData = "05", const char* pszGuid = kGuid,
                const char* pszCommand = "set")
{
    return {pszTime, pszPc, "r",        pszCommand, "Setup",   pszGuid, pszOffset, pszData,
            "",      "",    pszOutcome, pszExit,    pszReason, "",      ""};
}

} // namespace

// ---- Command line ----

struct ArgRow
{
    std::vector<std::string> args;
    const char* pszError; // nullptr: accepted; else a part of the refusal
};

TEST(FleetArgs, Rows)
{
    const std::string g = kGuid;
    const ArgRow rows[] = {
        {{"set", "Setup", g, "1A", "05"}, nullptr},
        {{"SeT", "Setup", g, "ffffffff", "f", "--FORCE", "--Json"}, nullptr},
        {{"check", "A&B|C>D%E^F!;G H\xC3\xA9", g, "0", "00", "--detect"}, nullptr},
        {{"undo", "--log", "\\\\srv\\l$\\a.log", "Setup", g, "1", "1", "--reboot-code", "3010"},
         nullptr},
        {{"check", "Setup", g, "1", "1", "--busy-code", "2147483647"}, nullptr},
        {{"report", "\\\\srv\\logs", "--csv"}, nullptr},
        {{"set", "Setup", g, "1A", "05", "--model", "Nelvrik 14*", "--firmware", "1.2.*", "--size",
          "4096", "--was", "0,ff,7E,05"},
         nullptr},
        {{"check", "Setup", g, "1A", "05", "--GUARD", "--Model", "*", "--size", "4194304"},
         nullptr},
        {{"undo", "Setup", g, "1A", "05", "--was", "7", "--firmware", "-1"}, nullptr},
        {{}, "no command"},
        {{"sets", "Setup", g, "1", "1"}, "unknown command [sets]"},
        {{"set", "Setup", g, "1"}, "set needs NAME GUID OFFSET DATA, 3 given"},
        {{"set", "Setup", g, "1", "1", "x"}, "too many: [x]"},
        {{"report"}, "report needs LOGFOLDER, 0 given"},
        {{"set", "", g, "1", "1"}, "NAME must not be empty"},
        {{"set", "Setup", "EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9", "1", "1"}, "GUID must"},
        {{"set", "Setup", "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DAG}", "1", "1"}, "GUID must"},
        {{"set", "Setup", g, "12G", "1"}, "OFFSET must be 1 to 8 hexadecimal digits, not [12G]"},
        {{"set", "Setup", g, "123456789", "1"}, "OFFSET must"},
        {{"set", "Setup", g, "0x1A", "1"}, "OFFSET must"},
        {{"set", "Setup", g, "1A", "100"}, "DATA must be 1 or 2 hexadecimal digits, not [100]"},
        {{"set", "Setup", g, "1A", "-1"}, "DATA must"},
        {{"set", "Setup", g, "1A", ""}, "DATA must"},
        {{"set", "Setup", g, "1", "1", "--forse"}, "unknown option [--forse]"},
        {{"set", "Setup", g, "1", "1", "--log=x"}, "unknown option [--log=x]"},
        {{"set", "Setup", g, "1", "1", "--detect"}, "[--detect] does not belong to set"},
        {{"check", "Setup", g, "1", "1", "--force"}, "[--force] does not belong to check"},
        {{"check", "Setup", g, "1", "1", "--reboot-code", "5"}, "does not belong to check"},
        {{"report", "f", "--json"}, "[--json] does not belong to report"},
        {{"set", "Setup", g, "1", "1", "--force", "--Force"}, "[--Force] is given twice"},
        {{"set", "Setup", g, "1", "1", "--log"}, "[--log] needs its PATH"},
        {{"set", "Setup", g, "1", "1", "--log", "--json"}, "[--log] needs its PATH"},
        {{"set", "Setup", g, "1", "1", "--log", ""}, "--log needs a PATH"},
        {{"set", "Setup", g, "1", "1", "--reboot-code"}, "[--reboot-code] needs its N"},
        {{"set", "Setup", g, "1", "1", "--reboot-code", "0"}, "1 to 2147483647, not [0]"},
        {{"set", "Setup", g, "1", "1", "--reboot-code", "2147483648"}, "not [2147483648]"},
        {{"set", "Setup", g, "1", "1", "--busy-code", "-5"}, "not [-5]"},
        {{"set", "Setup", g, "1", "1", "--busy-code", "0618"}, "not [0618]"},
        {{"set", "Setup", g, "1", "1", "--busy-code", "1618 "}, "not [1618 ]"},
        {{"set", "Setup", g, "1\r\n", "1"}, "not [1??]"},
        // Guards.
        {{"set", "Setup", g, "1", "1", "--model"}, "[--model] needs its TEXT"},
        {{"set", "Setup", g, "1", "1", "--model", "--size", "1"}, "[--model] needs its TEXT"},
        {{"set", "Setup", g, "1", "1", "--model", ""}, "--model needs a TEXT, not []"},
        {{"check", "Setup", g, "1", "1", "--firmware", ""}, "--firmware needs a TEXT, not []"},
        {{"undo", "Setup", g, "1", "1", "--firmware"}, "[--firmware] needs its TEXT"},
        {{"set", "Setup", g, "1", "1", "--size"}, "[--size] needs its N"},
        {{"set", "Setup", g, "1", "1", "--size", "0"}, "decimal number 1 to 4194304, not [0]"},
        {{"set", "Setup", g, "1", "1", "--size", "4194305"}, "not [4194305]"},
        {{"set", "Setup", g, "1", "1", "--size", "04096"}, "not [04096]"},
        {{"set", "Setup", g, "1", "1", "--size", "4096 "}, "not [4096 ]"},
        {{"set", "Setup", g, "1", "1", "--size", "0x1000"}, "not [0x1000]"},
        {{"set", "Setup", g, "1", "1", "--size", "+4096"}, "not [+4096]"},
        {{"set", "Setup", g, "1", "1", "--size", "99999999999"}, "not [99999999999]"},
        {{"set", "Setup", g, "1", "1", "--was"}, "[--was] needs its XX[,YY...]"},
        {{"set", "Setup", g, "1", "1", "--was", ""}, "separated by commas, not []"},
        {{"set", "Setup", g, "1", "1", "--was", "0,"}, "not [0,]"},
        {{"set", "Setup", g, "1", "1", "--was", ",0"}, "not [,0]"},
        {{"set", "Setup", g, "1", "1", "--was", "0,,1"}, "not [0,,1]"},
        {{"set", "Setup", g, "1", "1", "--was", "0, 1"}, "not [0, 1]"},
        {{"set", "Setup", g, "1", "1", "--was", "100"}, "not [100]"},
        {{"set", "Setup", g, "1", "1", "--was", "0x1"}, "not [0x1]"},
        {{"set", "Setup", g, "1", "1", "--was", "0;1"}, "not [0;1]"},
        {{"set", "Setup", g, "1", "1", "--size", "1", "--SIZE", "1"}, "[--SIZE] is given twice"},
        {{"set", "Setup", g, "1", "1", "--guard"}, "[--guard] does not belong to set"},
        {{"undo", "Setup", g, "1", "1", "--guard"}, "[--guard] does not belong to undo"},
        {{"report", "f", "--model", "x"}, "[--model] does not belong to report"},
        {{"check", "Setup", g, "1", "1", "--guard", "--detect"},
         "[--guard] does not go with [--detect]"},
        {{"check", "Setup", g, "1", "1", "--json", "--guard"},
         "[--guard] does not go with [--json]"},
    };
    for (const ArgRow& row : rows)
    {
        FleetRequest request;
        std::string error;
        const bool blOk = Parse(row.args, &request, &error);
        const std::string where = ::testing::PrintToString(row.args);
        if (!row.pszError)
        {
            EXPECT_TRUE(blOk) << where << ": " << error;
            continue;
        }
        EXPECT_FALSE(blOk) << where;
        EXPECT_NE(error.find(row.pszError), std::string::npos) << where << ": " << error;
        EXPECT_EQ(error.find_first_of("\r\n"), std::string::npos) << where;
    }
}

TEST(FleetArgs, FieldsOfAcceptedLines)
{
    FleetRequest r;
    std::string error;
    ASSERT_TRUE(
        Parse({"UNDO", "a b;\xC3\xA9", "{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}", "00ffFF1a", "e",
               "--log", "p q", "--reboot-code", "3010", "--busy-code", "1618", "--force", "--json"},
              &r, &error));
    EXPECT_EQ(r.command, FleetCommand::Undo);
    EXPECT_EQ(r.name, "a b;\xC3\xA9");
    EXPECT_EQ(r.guid, "{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}");
    EXPECT_EQ(r.dwOffset, 0xFFFF1Au);
    EXPECT_EQ(r.bData, 0x0E);
    EXPECT_EQ(r.logPath, "p q");
    EXPECT_TRUE(r.blForce && r.blJson && !r.blDetect && !r.blCsv);
    EXPECT_TRUE(r.blHaveRebootCode && r.blHaveBusyCode);
    EXPECT_EQ(r.dwRebootCode, 3010u);
    EXPECT_EQ(r.dwBusyCode, 1618u);
    EXPECT_TRUE(!r.blHaveModel && !r.blHaveFirmware && !r.blHaveSize && !r.blHaveWas && !r.blGuard);
    ASSERT_TRUE(Parse({"check", "Setup", kGuid, "1A", "5", "--was", "0,Fe,0,5", "--model",
                       "a \"b\"", "--firmware", "*", "--size", "1", "--guard"},
                      &r, &error));
    EXPECT_TRUE(r.blHaveModel && r.blHaveFirmware && r.blHaveSize && r.blHaveWas && r.blGuard);
    EXPECT_EQ(r.modelPattern, "a \"b\"");
    EXPECT_EQ(r.firmwarePattern, "*");
    EXPECT_EQ(r.dwSize, 1u);
    EXPECT_EQ(r.wasValues, (std::vector<uint8_t>{0x00, 0xFE, 0x00, 0x05}));
    ASSERT_TRUE(Parse({"report", "--CSV", "C:\\logs"}, &r, &error));
    EXPECT_EQ(r.command, FleetCommand::Report);
    EXPECT_EQ(r.logFolder, "C:\\logs");
    EXPECT_TRUE(r.blCsv && !r.blHaveBusyCode && !r.blHaveWas && r.wasValues.empty());
    EXPECT_EQ(HexOffset(0), "0");
    EXPECT_EQ(HexOffset(0xABC0012u), "ABC0012");
    EXPECT_EQ(HexByte(0x0A), "0A");
}

TEST(FleetArgs, UsageNamesEveryCommandAndOption)
{
    const std::string usage = FleetUsageText();
    for (const char* pszWord :
         {"ArdentisFleet64.exe", "ArdentisFleet.exe", "check ", "set ", "undo ", "report ",
          "--force", "--detect", "--json", "--log", "--reboot-code", "--busy-code", "--csv",
          "--model", "--firmware", "--size", "--was", "--guard"})
        EXPECT_NE(usage.find(pszWord), std::string::npos) << pszWord;
    EXPECT_EQ(usage.back(), '\n');
}

// ---- Guards ----

TEST(FleetGuard, PatternRows)
{
    std::string many; // "*a*a...*a*b": exponential for a matcher that backtracks each '*'
    for (int i = 0; i < 40; ++i)
        many += "*a";
    const struct
    {
        std::string pattern;
        std::string value;
        bool blMatches;
    } rows[] = {
        {"Nelvrik 14", "Nelvrik 14", true},
        {"NELVRIK 14", "nelvrik 14", true},
        {"Nelvrik 14", "Nelvrik 14 ", false},
        {"Nelvrik 14", "Nelvrik 1", false},
        {"\xC3\xA9", "\xC3\x89", false}, // only ASCII letters fold
        {"Model ?", "Model A", false},   // '?' is itself
        {"Model ?", "Model ?", true},
        {"*", "", true},
        {"**", "", true},
        {"*a", "", false},
        {"a*", "", false},
        {"*", "Nelvrik 14", true},
        {"*14", "Nelvrik 14", true},
        {"*15", "Nelvrik 14", false},
        {"nel*", "Nelvrik 14", true},
        {"Nel*14", "Nelvrik 14", true},
        {"Nel*15", "Nelvrik 14", false},
        {"*VRIK*", "Nelvrik 14", true},
        {"*x*", "Nelvrik 14", false},
        {"N*l*k*1*", "Nelvrik 14", true},
        {"Nel**vrik*14", "Nelvrik 14", true},
        {"a*a", "a", false},
        {"a*a", "aa", true},
        {"ab*bc", "abc", false},
        {"*14*14", "14", false},
        {"*ab*b", "aabab", true},
        {"a*b*c", "acb", false},
        {"*aab", "aaab", true},
        {"*aa*aa*", "aaa", false}, // runs in order, never overlapping
        {"*aa*aa*", "aaaa", true},
        {many + "*b", std::string(5000, 'a'), false},
        {many + "*", std::string(5000, 'a'), true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(MatchesPattern(row.pattern, row.value), row.blMatches)
            << "[" << row.pattern.substr(0, 20) << "] [" << row.value.substr(0, 20) << "]";
}

TEST(FleetGuard, JudgedInOrder)
{
    const PcFacts pc = {"Nelvrik 14", "1.2.7", true, 4096, true, 0x00};
    PcFacts holding = pc; // the byte holds DATA already
    holding.bByte = 0x05;
    const PcFacts unread = {"", "", false, 0, false, 0}; // nothing known
    const struct
    {
        const char* pszArgs; // after NAME GUID OFFSET DATA (1A 05), separated by '|'
        PcFacts pc;
        const char* pszReason; // "": every guard holds
        const char* pszMessage;
    } rows[] = {
        {"set", unread, "", ""},
        {"set|--model|Nelvrik 14|--firmware|1.2.7|--size|4096|--was|00", pc, "", ""},
        {"check|--model|nelvrik*|--firmware|*.7", pc, "", ""},
        {"undo|--model|*|--firmware|**", unread, "", ""},
        {"set|--model|Nelvrik 15", pc, "OTHER-MODEL",
         "--model \"Nelvrik 15\" does not match this PC's model, \"Nelvrik 14\"."},
        {"check|--model|Nelvrik*", unread, "OTHER-MODEL",
         "--model \"Nelvrik*\" does not match this PC's model, which is unknown."},
        {"undo|--model|A\tB", pc, "OTHER-MODEL",
         "--model \"A?B\" does not match this PC's model, \"Nelvrik 14\"."},
        {"undo|--firmware|1.2", pc, "OTHER-FIRMWARE",
         "--firmware \"1.2\" does not match this PC's firmware version, \"1.2.7\"."},
        {"set|--firmware|1.2.*", unread, "OTHER-FIRMWARE",
         "--firmware \"1.2.*\" does not match this PC's firmware version, which is unknown."},
        {"check|--size|4100", pc, "OTHER-SIZE",
         "--size 4100 is not the variable's size, 4096 bytes."},
        {"set|--size|4100", unread, "", ""}, // not read: nothing to write
        {"set|--was|01,7F", pc, "OTHER-VALUE",
         "The byte holds 00, neither DATA 05 nor a value of --was 01,7F."},
        {"undo|--was|1", pc, "OTHER-VALUE",
         "The byte holds 00, neither DATA 05 nor a value of --was 01."},
        {"check|--was|7f,0", pc, "", ""},
        {"undo|--was|01", holding, "", ""}, // DATA always
        {"set|--was|01", unread, "", ""},   // OFFSET outside: nothing to write
        // The first that does not hold, in the order model, firmware, size, value.
        {"set|--was|01|--size|1|--firmware|2|--model|x", pc, "OTHER-MODEL",
         "--model \"x\" does not match this PC's model, \"Nelvrik 14\"."},
        {"set|--was|01|--size|1|--firmware|2", pc, "OTHER-FIRMWARE",
         "--firmware \"2\" does not match this PC's firmware version, \"1.2.7\"."},
        {"check|--was|01|--size|1", pc, "OTHER-SIZE",
         "--size 1 is not the variable's size, 4096 bytes."},
    };
    for (const auto& row : rows)
    {
        std::vector<std::string> args;
        std::istringstream in(row.pszArgs);
        for (std::string arg; std::getline(in, arg, '|');)
            args.push_back(arg);
        args.insert(args.begin() + 1, {"Setup", kGuid, "1A", "05"});
        FleetRequest request;
        std::string error;
        ASSERT_TRUE(Parse(args, &request, &error)) << error;
        const GuardVerdict verdict = JudgeGuards(request, row.pc);
        EXPECT_STREQ(verdict.pszReason, row.pszReason) << row.pszArgs;
        EXPECT_EQ(verdict.failed == GuardKind::None, *row.pszReason == '\0') << row.pszArgs;
        EXPECT_EQ(verdict.message, row.pszMessage) << row.pszArgs;
    }
    // Undo across a firmware update: the version recorded with the change.
    const struct
    {
        const char* pszRecorded;
        const char* pszNow;
        const char* pszMessage; // "": the same firmware
    } undoRows[] = {
        {"", "1.5", ""},
        {"", "", ""},
        {"1.2", "1.2", ""},
        {"1.2", "1.5",
         "The change was made under firmware version \"1.2\"; this PC's is \"1.5\" now."},
        {"V1.2", "v1.2",
         "The change was made under firmware version \"V1.2\"; this PC's is \"v1.2\" now."},
        {"1.2", "",
         "The change was made under firmware version \"1.2\"; this PC's is unknown now."},
    };
    for (const auto& row : undoRows)
    {
        const GuardVerdict verdict = JudgeUndoFirmware(row.pszRecorded, row.pszNow);
        EXPECT_EQ(verdict.message, row.pszMessage) << row.pszRecorded << " " << row.pszNow;
        EXPECT_EQ(verdict.failed, *row.pszMessage ? GuardKind::Firmware : GuardKind::None);
        EXPECT_STREQ(verdict.pszReason, *row.pszMessage ? "OTHER-FIRMWARE" : "");
    }
}

TEST(FleetGuard, GuardLineRows)
{
    auto facts = [](const char* pszModel, const char* pszFirmware)
    { return PcFacts{pszModel, pszFirmware, true, 4096, true, 0x00}; };
    // The line pasted after a set: with no '"' inside its quotes and no '\'
    // before one, the C runtime splits it at the spaces outside them.
    auto pasted = [](const std::string& line, FleetRequest* pRequest)
    {
        std::vector<std::string> args = {"set", "Setup", kGuid, "1A", "05", ""};
        bool blQuoted = false;
        for (size_t i = 0; i < line.size(); ++i)
        {
            EXPECT_TRUE(line[i] != '"' || i == 0 || line[i - 1] != '\\') << line;
            if (line[i] == ' ' && !blQuoted)
                args.emplace_back();
            else if (line[i] == '"')
                blQuoted = !blQuoted;
            else
                args.back() += line[i];
        }
        std::string error;
        EXPECT_TRUE(Parse(args, pRequest, &error)) << line << ": " << error;
    };
    const struct
    {
        PcFacts pc; // DATA is 05
        const char* pszLine;
    } rows[] = {
        {facts("Nelvrik 14", "1.2.7"),
         "--model \"Nelvrik 14\" --firmware \"1.2.7\" --size 4096 --was 00"},
        {{"Nelvrik 14", "1.2.7", true, 4096, true, 0x05}, // holds DATA: the old value is not known
         "--model \"Nelvrik 14\" --firmware \"1.2.7\" --size 4096"},
        {{"", "1.2.7", false, 0, false, 0}, "--firmware \"1.2.7\""},
        {{"Nelvrik 14", "", true, 4194304, true, 0xFF},
         "--model \"Nelvrik 14\" --size 4194304 --was FF"},
        {{"", "", true, 0, true, 0}, "--was 00"},
        {facts("Say \"Hi\" 100%", "%PATH%!x!"),
         "--model \"Say *Hi* 100*\" --firmware \"*PATH*x*\" --size 4096 --was 00"},
        {facts("$env:x `n", "1.2\\"),
         "--model \"*env:x *n\" --firmware \"1.2*\" --size 4096 --was 00"},
        {facts("A\\B\\\\", "\\\\"), "--model \"A\\B*\" --firmware \"*\" --size 4096 --was 00"},
        {facts("--x", "-1"), "--model \"*-x\" --firmware \"-1\" --size 4096 --was 00"},
        {facts("A\x01\xC3\xA9"
               "B\x7F",
               "1**2"),
         "--model \"A*B*\" --firmware \"1*2\" --size 4096 --was 00"},
        {facts("a'b&c|d<e>f^g;h", "(1)"),
         "--model \"a'b&c|d<e>f^g;h\" --firmware \"(1)\" --size 4096 --was 00"},
    };
    for (const auto& row : rows)
    {
        const std::string line = FormatGuardLine(row.pc, 0x05);
        EXPECT_EQ(line, row.pszLine) << row.pc.model;
        for (char ch : line)
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7F &&
                        std::string("%!$`").find(ch) == std::string::npos)
                << line;
        // Pasted after a set on this PC it is taken, and every guard holds.
        FleetRequest request;
        pasted(line, &request);
        EXPECT_EQ(JudgeGuards(request, row.pc).message, "") << line;
    }
    EXPECT_EQ(FormatGuardLine({"", "", true, 4194305, false, 0}, 0x05), "");
    // On a PC of another model or firmware version it does not hold.
    FleetRequest request;
    pasted(FormatGuardLine(facts("Nelvrik 14", "1.2.7"), 0x05), &request);
    EXPECT_EQ(JudgeGuards(request, facts("Nelvrik 14 G2", "1.2.7")).failed, GuardKind::Model);
    EXPECT_EQ(JudgeGuards(request, facts("Nelvrik 14", "1.2.8")).failed, GuardKind::Firmware);
}

// ---- Record files ----

TEST(FleetRecords, EveryByteAndSeparatorRoundTrips)
{
    std::vector<RecordFields> written;
    std::string all;
    for (int b = 0; b < 256; ++b)
    {
        const std::string ch(1, static_cast<char>(b));
        written.push_back({ch, "x" + ch + "y", ch + ch, ""});
        all += ch;
    }
    for (const char* pszField : {";", "\"", "\r", "\n", "\r\n", "\"\"", ";\";\r\n", ""})
        written.push_back({pszField});
    written.push_back({all, "", ";", "\n\n", "\r"});
    std::string text;
    for (const RecordFields& fields : written)
        text += FormatRecord(fields);
    std::vector<RecordFields> read;
    ASSERT_TRUE(ParseRecords(text, &read));
    EXPECT_EQ(read, written); // Quoted exactly when a field holds ';', '"', CR or LF.
    EXPECT_EQ(FormatRecord({"a\rb", "a\nb", "a;b", "a\"b", "a b,\t\x01"}),
              "\"a\rb\";\"a\nb\";\"a;b\";\"a\"\"b\";a b,\t\x01\r\n");
}

struct ParseRow
{
    const char* pszText;
    bool blWhole;
    std::vector<RecordFields> records;
};

TEST(FleetRecords, ParseRows)
{
    const ParseRow rows[] = {
        {"", true, {}},
        {"a;b\r\nc\n\r\n\nd", true, {{"a", "b"}, {"c"}, {"d"}}},
        {"a;\r\n;\r\n\"\"\r\n", true, {{"a", ""}, {"", ""}, {""}}},
        {"\"x\r\ny;\"\"z\";w\n", true, {{"x\r\ny;\"z", "w"}}},
        {"a\rb;c\r", true, {{"a\rb", "c"}}},       // CR inside is data
        {"a\r\r\nb", true, {{"a\r"}, {"b"}}},      // CR before CR LF is data
        {"a\"b;\"c\"d\n", true, {{"a\"b", "cd"}}}, // stray quotes
        {"ok\r\n\"cut;\r\nmore", false, {{"ok"}}}, // cut inside quotes
        {"ok\r\nx;\"a\"\"", false, {{"ok"}}},
    };
    for (const ParseRow& row : rows)
    {
        std::vector<RecordFields> read = {{"stale"}};
        EXPECT_EQ(ParseRecords(row.pszText, &read), row.blWhole) << row.pszText;
        EXPECT_EQ(read, row.records) << row.pszText;
    }
}

TEST(FleetRecords, LogEntriesAndHeader)
{
    const std::string legacyHeader =
        "time;computer;run;command;name;guid;offset;data;old;read back;"
        "outcome;exit code;reason;messages;backup\r\n";
    EXPECT_EQ(FormatLogHeader(),
              legacyHeader.substr(0, legacyHeader.size() - 2) + ";model;firmware;size\r\n");
    LogEntry entry;
    for (size_t i = 0; i < kLogFieldCount; ++i) // every field differs, some need quotes
        entry[i] = std::to_string(i) + (i % 3 == 0 ? "a;\"b\"\r\n" : "");
    entry[kLogComputer] = "";
    std::vector<RecordFields> read;
    ASSERT_TRUE(ParseRecords(FormatLogHeader() + FormatLogEntry(entry), &read));
    ASSERT_EQ(read.size(), 2u);
    LogEntry back;
    EXPECT_TRUE(IsLogHeader(read[0]));
    EXPECT_FALSE(LogEntryFromRecord(read[0], &back));
    read[0][0] = "\xEF\xBB\xBFtime";
    EXPECT_TRUE(IsLogHeader(read[0]));
    ASSERT_TRUE(LogEntryFromRecord(read[1], &back));
    EXPECT_EQ(back, entry);
    // Written before the PC's identity: its header, and lines of 15 fields
    // whose model, firmware and size are empty. 16 and 17 fields are neither.
    ASSERT_TRUE(ParseRecords(legacyHeader, &read));
    EXPECT_TRUE(IsLogHeader(read[0]));
    EXPECT_FALSE(LogEntryFromRecord(read[0], &back));
    read[0][kLogOutcome] = "FAILED";
    ASSERT_TRUE(LogEntryFromRecord(read[0], &back));
    EXPECT_EQ(back[kLogOutcome], "FAILED");
    EXPECT_EQ(back[kLogBackup], "backup");
    EXPECT_TRUE(back[kLogModel].empty() && back[kLogFirmware].empty() && back[kLogSize].empty());
    for (size_t cFields : {kLogLegacyFieldCount - 1, kLogLegacyFieldCount + 1, kLogFieldCount - 1,
                           kLogFieldCount + 1})
    {
        RecordFields fields(kLogFieldNames, kLogFieldNames + kLogFieldCount);
        fields.resize(cFields, "x");
        EXPECT_FALSE(IsLogHeader(fields)) << cFields;
        fields[kLogOutcome] = "FAILED";
        EXPECT_FALSE(LogEntryFromRecord(fields, &back)) << cFields;
    }
}

// ---- Journal ----

TEST(FleetJournal, RecordsRoundTripAndMalformedAreRefused)
{
    JournalRecord intent;
    intent.kind = JournalKind::Intent;
    intent.time = "2026-12-09T14:05:09Z";
    intent.run = "run;\"1\"";
    intent.command = "undo";
    intent.name = "N\xC3\xA9\r\n";
    intent.guid = kGuid;
    intent.dwOffset = 0xFFFFFFFF;
    intent.bData = 0xAB;
    intent.blHaveOld = true;
    intent.blHaveNew = true;
    intent.bNew = 0xFF;
    intent.undoes = "run0";
    intent.backup = "\\\\srv\\b;1.txt";
    intent.model = "Nelvrik 14;\"x\"";
    intent.firmware = "1.2.7";
    intent.blHaveSize = true;
    intent.dwSize = 4294967295u;
    JournalRecord outcome;
    outcome.outcome = "FAILED";
    outcome.blHaveReadBack = true;
    outcome.bReadBack = 0x7E;
    outcome.nExitCode = -2147483647 - 1;
    outcome.reason = "WRITE-ERROR-5";
    for (const JournalRecord& record : {intent, outcome})
    {
        const std::string line = FormatJournalRecord(record);
        std::vector<RecordFields> read;
        ASSERT_TRUE(ParseRecords(line, &read));
        ASSERT_EQ(read.size(), 1u);
        JournalRecord back;
        ASSERT_TRUE(JournalRecordFromFields(read[0], &back)) << line;
        EXPECT_EQ(FormatJournalRecord(back), line);
        EXPECT_EQ(back.kind, record.kind);
        EXPECT_EQ(back.blHaveOld, record.blHaveOld);
        EXPECT_EQ(back.bReadBack, record.bReadBack);
        EXPECT_EQ(back.nExitCode, record.nExitCode);
        EXPECT_EQ(back.model, record.model);
        EXPECT_EQ(back.firmware, record.firmware);
        EXPECT_EQ(back.blHaveSize, record.blHaveSize);
        EXPECT_EQ(back.dwSize, record.dwSize);
    }
    // The checksums as zlib's crc32 computes them; a record of 16 fields and
    // its checksum, as written before the PC's identity, reads as the same.
    const char* const kOutcomeLine =
        "OUTCOME;;;;;;0;00;;;;;FAILED;7E;-2147483648;WRITE-ERROR-5;;;;14E12914\r\n";
    EXPECT_EQ(FormatJournalRecord(outcome), kOutcomeLine);
    std::vector<RecordFields> read;
    ASSERT_TRUE(
        ParseRecords("OUTCOME;;;;;;0;00;;;;;FAILED;7E;-2147483648;WRITE-ERROR-5;E40A90A5", &read));
    JournalRecord back;
    ASSERT_TRUE(JournalRecordFromFields(read[0], &back));
    EXPECT_EQ(FormatJournalRecord(back), kOutcomeLine);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);

    // Written before the checksum (16 fields), with it (17), and with the
    // PC's identity (20); in the last the checksum is made anew for each
    // change unless blRecheck is false.
    const RecordFields good = {"INTENT", "t",  "r", "set", "n", kGuid, "1a", "0f",
                               "",       "0F", "",  "",    "",  "",    "-1", ""};
    RecordFields checked = good;
    checked.push_back("DFD3C823");
    RecordFields identified = good;
    for (const char* pszField : {"Nelvrik 14", "1.2", "4096", ""})
        identified.push_back(pszField);
    identified = WithChecksum(identified);
    EXPECT_TRUE(JournalRecordFromFields(good, &back));
    EXPECT_TRUE(JournalRecordFromFields(checked, &back));
    checked.back() = "dfd3c823";
    EXPECT_TRUE(JournalRecordFromFields(checked, &back));
    // Sizes, the checksum made anew: decimal without leading zeros, or none.
    const std::pair<const char*, bool> sizes[] = {
        {"", true},    {"0", true},           {"4294967295", true},
        {"01", false}, {"x", false},          {"-1", false},
        {" 1", false}, {"4294967296", false}, {"99999999999", false},
        {"1e3", false}};
    for (const auto& size : sizes)
    {
        RecordFields fields = identified;
        fields[kJSize] = size.first;
        EXPECT_EQ(JournalRecordFromFields(WithChecksum(fields), &back), size.second) << size.first;
    }
    const struct
    {
        size_t nField;
        const char* pszValue;
        size_t cFields; // the format changed
    } bad[] = {{0, "intent", 16},     {0, "", 16},          {6, "", 16},
               {6, "123456789", 16},  {6, "0x1", 16},       {7, "F", 16},
               {7, "", 16},           {8, "1", 16},         {9, "123", 16},
               {13, "G0", 16},        {14, "", 16},         {14, "+1", 16},
               {14, "01", 16},        {14, "-0", 16},       {14, "2147483648", 16},
               {14, "1 ", 16},        {16, "", 17},         {16, "DFD3C82", 17},
               {16, "0DFD3C823", 17}, {16, "DFD3C824", 17}, {4, "m", 17},
               {15, "X", 17},         {16, "x", 20},        {17, "1.3", 20},
               {18, "4097", 20},      {19, "", 20},         {4, "m", 20}};
    for (const auto& row : bad)
    {
        RecordFields fields = row.cFields == 16 ? good : row.cFields == 17 ? checked : identified;
        fields[row.nField] = row.pszValue;
        EXPECT_FALSE(JournalRecordFromFields(fields, &back)) << row.nField << " " << row.pszValue;
    }
    for (RecordFields fields : {checked, identified})
    {
        fields.push_back("");
        EXPECT_FALSE(JournalRecordFromFields(fields, &back)) << fields.size();
    }
    identified.pop_back(); // cut before its checksum (16 fields would read as the oldest format)
    EXPECT_FALSE(JournalRecordFromFields(identified, &back));
}

// ---- Reading files that hold cut records ----

namespace
{

// An intent of run `run`, set 1A to 01 over 00, as its journal line.
std::string JournalLine(const std::string& run, const std::string& name = "Setup")
{
    JournalRecord r;
    r.kind = JournalKind::Intent;
    r.time = "2026-12-09T10:00:00Z";
    r.run = run;
    r.command = "set";
    r.name = name;
    r.guid = kGuid;
    r.dwOffset = 0x1A;
    r.bData = 0x01;
    r.blHaveOld = r.blHaveNew = true;
    r.bNew = 0x01;
    return FormatJournalRecord(r);
}

// The same as earlier versions wrote it: its first 16 fields, with their
// checksum (before the PC's identity) or without (before the checksum).
std::string EarlierLine(const std::string& run, bool blChecksum, const std::string& name = "Setup")
{
    std::vector<RecordFields> read;
    ParseRecords(JournalLine(run, name), &read);
    read[0].resize(kJLegacyFieldCount + (blChecksum ? 1 : 0));
    return FormatRecord(blChecksum ? WithChecksum(read[0]) : read[0]);
}

std::string LegacyLine(const std::string& run, const std::string& name = "Setup")
{
    return EarlierLine(run, false, name);
}

// A central log line of PC `pc`; its messages field is quoted, as a CHANGED
// run's is.
std::string
LogLine(const char* pszPc,
        const char* pszMessages = "The byte holds 00. / Written; the byte reads back 05.")
{
    LogEntry entry = LogRun("2026-12-09T10:00:00Z", pszPc, "CHANGED", "");
    entry[kLogMessages] = pszMessages;
    return FormatLogEntry(entry);
}

// A central log line or header as written before the PC's identity: its
// first 15 fields.
std::string Legacy(const std::string& line)
{
    std::vector<RecordFields> read;
    ParseRecords(line, &read);
    read[0].resize(kLogLegacyFieldCount);
    return FormatRecord(read[0]);
}

// The line without its last cchDrop bytes, as a power loss leaves it; or
// cut right before the first `at` in it.
std::string Cut(const std::string& line, size_t cchDrop)
{
    return line.substr(0, line.size() - cchDrop);
}

std::string CutBefore(const std::string& line, const char* pszAt)
{
    return line.substr(0, line.find(pszAt));
}

} // namespace

TEST(FleetRecords, ReadRowsResumeAfterACutRecord)
{
    const std::string a = JournalLine("a");
    std::string flipped = JournalLine("a");
    flipped[flipped.find("Setup")] = 's';
    const std::string header = FormatLogHeader();
    const std::string legacyHeader = Legacy(header);
    LogEntry pc4 = LogRun("2026-12-09T10:00:00Z", "PC4", "CHANGED", "");
    pc4[kLogModel] = "Nelvrik 14";
    pc4[kLogFirmware] = "1.2";
    pc4[kLogSize] = "4096";
    const std::string identified = FormatLogEntry(pc4);
    const std::string cutPc1 = CutBefore(LogLine("PC1"), "Written;"); // inside its messages
    const char* const kQuoted = "NAME \"x\" holds 00.";               // quoted, without ';'
    std::string tall = "x"; // a NAME of 63 line breaks: a record of 64 lines
    for (int i = 0; i < 63; ++i)
        tall += "\nx";
    std::string taller; // one more: each of its 65 lines is damaged
    for (int nLine = 1; nLine <= 65; ++nLine)
        taller += " " + std::to_string(nLine);
    const struct
    {
        const char* pszWhat;
        bool blLog;
        std::string text;
        const char* pszTaken; // journal: the records' runs; log: the entries' computers
        std::string damagedLines;
        size_t nHeaders;
    } rows[] = {
        {"whole records", false, a + JournalLine("b"), " a b", "", 0},
        {"blank lines", false, "\r\n\n" + a + "\r\n", " a", "", 0},
        {"written before the checksum", false, LegacyLine("b") + a, " b a", "", 0},
        {"no checksum after a checksum: cut before it", false, a + LegacyLine("b"), " a", " 2", 0},
        {"every format", false, LegacyLine("a") + EarlierLine("b", true) + JournalLine("c"),
         " a b c", "", 0},
        {"a checksum without the identity after one with it", false, a + EarlierLine("b", true),
         " a b", "", 0},
        {"no checksum after one without the identity", false,
         EarlierLine("a", true) + LegacyLine("b"), " a", " 2", 0},
        {"a cut line glued to the next record", false, Cut(a, 12) + JournalLine("b") + a, " a",
         " 1", 0},
        {"a cut line with the line end the writer adds", false,
         Cut(a, 12) + "\r\n" + JournalLine("b"), " b", " 1", 0},
        {"cut at the end", false, a + Cut(JournalLine("b"), 40), " a", " 2", 0},
        {"a changed byte fails the checksum", false, flipped + JournalLine("b"), " b", " 1", 0},
        {"a NAME ending in a line break", false, JournalLine("a", "Setup\r\n") + JournalLine("b"),
         " a b", "", 0},
        {"a NAME holding a line break", false,
         JournalLine("a", "Se\r\ntup") + JournalLine("b") + Cut(a, 3), " a b", " 4", 0},
        {"a cut quoted NAME swallows the rest", false,
         CutBefore(JournalLine("a", "Se;tup"), "tup") + "\r\n" + JournalLine("b") +
             JournalLine("c"),
         " b c", " 1", 0},
        // Read whole, the cut record and the one it swallowed make a valid one.
        {"a cut quoted NAME swallows a record", false,
         CutBefore(LegacyLine("a", "Se\"tup"), "tup") + "\r\n" + LegacyLine("b", "Se\"tup"), " b",
         " 1", 0},
        {"a record of 64 lines", false, JournalLine("a", tall) + JournalLine("b"), " a b", "", 0},
        {"a record of 65 lines", false, JournalLine("a", tall + "\nx"), "", taller, 0},
        {"headers anywhere", true, header + LogLine("PC1") + header + LogLine("PC2"), " PC1 PC2",
         "", 2},
        {"a header with a byte order mark", true, "\xEF\xBB\xBF" + header + LogLine("PC1"), " PC1",
         "", 1},
        {"a cut quoted messages field, then whole lines", true,
         header + cutPc1 + "\r\n" + LogLine("PC2") + LogLine("PC3"), " PC2 PC3", " 2", 1},
        {"the same glued to the next line", true, header + cutPc1 + LogLine("PC2") + LogLine("PC3"),
         " PC3", " 2", 1},
        {"the same swallowing a whole entry", true,
         CutBefore(LogLine("PC1", kQuoted), "holds") + "\r\n" + LogLine("PC2", kQuoted), " PC2",
         " 1", 0},
        // Line 3 closes line 1's quotes; only the header shows the cut.
        {"a header ends a cut quoted field", true,
         CutBefore(LogLine("PC1", kQuoted), "holds") + "\r\n" + header + "\" x;\r\n" +
             LogLine("PC2"),
         " PC2", " 1 3", 1},
        {"a line of too few fields", true, header + "a;b\r\n" + LogLine("PC1"), " PC1", " 2", 1},
        {"lines before the identity, under either header", true,
         legacyHeader + Legacy(LogLine("PC1")) + LogLine("PC2") + header + Legacy(LogLine("PC3")) +
             CutBefore(identified, ";1.2") + "\r\n" + identified,
         " PC1 PC2 PC3 PC4", " 6", 2},
    };
    for (const auto& row : rows)
    {
        std::string taken;
        std::string damagedLines;
        size_t nHeaders = 0;
        std::vector<DamagedRecord> damaged;
        if (row.blLog)
        {
            const LogContents log = ReadLog(row.text);
            for (const LogEntry& entry : log.entries)
                taken += " " + entry[kLogComputer];
            damaged = log.damaged;
            nHeaders = log.nHeaders;
        }
        else
        {
            const JournalContents journal = ReadJournal(row.text);
            for (const JournalRecord& record : journal.records)
                taken += " " + record.run;
            damaged = journal.damaged;
        }
        for (const DamagedRecord& record : damaged)
            damagedLines += " " + std::to_string(record.nLine);
        EXPECT_EQ(taken, row.pszTaken) << row.pszWhat;
        EXPECT_EQ(damagedLines, row.damagedLines) << row.pszWhat;
        EXPECT_EQ(nHeaders, row.nHeaders) << row.pszWhat;
    }

    // A damaged record keeps the fields of its first line that end in ';':
    // here the cut one's, then those of the record glued to it.
    const JournalContents glued = ReadJournal(Cut(a, 15) + JournalLine("b"));
    ASSERT_EQ(glued.damaged.size(), 1u);
    const RecordFields& fields = glued.damaged[0].fields;
    ASSERT_EQ(fields.size(), 14u + 19u);
    EXPECT_EQ(fields[kJRun], "a");
    EXPECT_EQ(fields[kJName], "Setup");
    EXPECT_EQ(fields[kJOffset], "1A");
    EXPECT_EQ(fields[14], "0INTENT");
    EXPECT_EQ(fields[14 + kJRun], "b");
    // The NAME's quoted field is not whole on the first line.
    const JournalContents quoted = ReadJournal(CutBefore(JournalLine("a", "Se;tup"), "tup"));
    ASSERT_EQ(quoted.damaged.size(), 1u);
    EXPECT_EQ(quoted.damaged[0].fields,
              (RecordFields{"INTENT", "2026-12-09T10:00:00Z", "a", "set"}));
}

// ---- Undo choice ----

namespace
{

// A journal in short, as its file: records separated by ", ", each
// "I RUN COMMAND DATA OLD>NEW" (an intent) or "O RUN COMMAND DATA OUTCOME
// [REASON]" (an outcome, repeating its run's intent as the program writes
// it), bytes in hexadecimal, each record's time "T" and its run. COMMAND
// "undo:RUN" takes back RUN; "set@7" works on OFFSET 7, not 1A. More words:
// OLD>NEW in an outcome differs from its intent (either may be left out: not
// present), name=N and guid=G differ from the journal's, fw=F is the firmware
// version recorded (an outcome repeats its intent's), =XX is a read-back value,
// cutN drops the record's last N bytes and keepN keeps its first N (cut by a
// power loss: the next record is glued to it), eol adds the line end that the
// writer puts after a cut record.
JournalContents Journal(const std::string& text, const char* pszName = "Setup",
                        const char* pszGuid = kGuid, uint32_t dwOffset = 0x1A)
{
    auto hex = [](const std::string& digits)
    { return static_cast<uint8_t>(std::stoul(digits, nullptr, 16)); };
    std::map<std::string, JournalRecord> intents;
    std::string file;
    size_t nAt = 0;
    while (nAt < text.size())
    {
        size_t nEnd = text.find(", ", nAt);
        nEnd = nEnd == std::string::npos ? text.size() : nEnd;
        std::istringstream in(text.substr(nAt, nEnd - nAt));
        nAt = nEnd + 2;
        std::string kind, command, data, word;
        JournalRecord r;
        in >> kind >> r.run >> command >> data;
        r.kind = kind == "I" ? JournalKind::Intent : JournalKind::Outcome;
        if (r.kind == JournalKind::Outcome && intents.count(r.run) != 0)
            r = intents[r.run];
        r.kind = kind == "I" ? JournalKind::Intent : JournalKind::Outcome;
        r.time = "T" + r.run;
        r.name = pszName;
        r.guid = pszGuid;
        r.dwOffset = dwOffset;
        const size_t nAtSign = command.find('@');
        if (nAtSign != std::string::npos)
            r.dwOffset = hex(command.substr(nAtSign + 1));
        r.command = command.substr(0, std::min(command.find(':'), nAtSign));
        if (command.find(':') != std::string::npos)
            r.undoes = command.substr(command.find(':') + 1, nAtSign - command.find(':') - 1);
        r.bData = hex(data);
        if (r.kind == JournalKind::Outcome)
            in >> r.outcome;
        std::string cut;
        bool blEol = false;
        while (in >> word)
        {
            if (word.find('>') != std::string::npos)
            {
                const std::string newValue = word.substr(word.find('>') + 1);
                r.blHaveOld = word[0] != '>';
                r.bOld = r.blHaveOld ? hex(word) : 0;
                r.blHaveNew = !newValue.empty();
                r.bNew = r.blHaveNew ? hex(newValue) : 0;
            }
            else if (word.compare(0, 5, "name=") == 0)
                r.name = word.substr(5);
            else if (word.compare(0, 5, "guid=") == 0)
                r.guid = word.substr(5);
            else if (word.compare(0, 3, "fw=") == 0)
                r.firmware = word.substr(3);
            else if (word[0] == '=')
            {
                r.blHaveReadBack = true;
                r.bReadBack = hex(word.substr(1));
            }
            else if (word.compare(0, 3, "cut") == 0 || word.compare(0, 4, "keep") == 0)
                cut = word;
            else if (word == "eol")
                blEol = true;
            else
                r.reason = word;
        }
        if (r.kind == JournalKind::Intent)
            intents[r.run] = r;
        std::string line = FormatJournalRecord(r);
        if (cut[0] == 'c')
            line.resize(line.size() - std::stoul(cut.substr(3)));
        else if (cut[0] == 'k')
            line.resize(std::stoul(cut.substr(4)));
        file += line + (blEol ? "\r\n" : "");
    }
    return ReadJournal(file);
}

} // namespace

TEST(FleetUndo, ScenarioRows)
{
    using K = UndoChoice::Kind;
    // Original 00; set 01 (00->01, CHANGED); set 02 (01->02, CHANGED); then undo 02 (02->01).
    const std::string base =
        "I s1 set 1 0>1, O s1 set 1 CHANGED, I s2 set 2 1>2, O s2 set 2 CHANGED";
    const std::string undone = base + ", I u1 undo:s2 2 2>1, O u1 undo:s2 2 UNDONE";
    const std::string set1 = "I s1 set 1 0>1, ";
    // The reproductions: set 02 (00->02), set 01 (02->01), a cut intent
    // line, set 02 (01->02); and a cut outcome line, set 01 (CHANGED), set 01
    // (UNCHANGED). The cut record names this byte or offset 7; the next record
    // is glued to it (as before the writer put a line end first) or not.
    const std::string twice = "I s1 set 2 0>2, O s1 set 2 CHANGED, I s2 set 1 2>1, O s2 set 1 "
                              "CHANGED, I c set";
    const std::string again = " 2 1>2 cut12";
    const std::string s3 = ", I s3 set 2 1>2, O s3 set 2 CHANGED";
    const std::string cutOutcome = "O p set";
    const std::string s1s2 = " 1 CHANGED cut12";
    const std::string set1Twice = ", I s1 set 1 0>1, O s1 set 1 CHANGED, O s2 set 1 UNCHANGED";
    const struct
    {
        const char* pszWhat;
        std::string journal;
        int nData;
        K kind;
        const char* pszRun;
        int nOld;
        bool blInterrupted;
        size_t nLine;           // Damaged: the damaged record's line
        const char* pszUndoRun; // TakenBack: the undo run named (its time is "T" and the run)
    } rows[] = {
        {"undo 02", base, 2, K::Change, "s2", 1, false, 0, ""},
        {"undo 02 again after undo 02", undone, 2, K::TakenBack, "s2", 1, false, 0, "u1"},
        {"and a third time", undone + ", O u2 undo 2 UNCHANGED", 2, K::TakenBack, "s2", 1, false, 0,
         "u1"},
        {"something else set 02 again", undone + ", O s3 set 2 UNCHANGED", 2, K::TakenBack, "s2", 1,
         false, 0, "u1"},
        {"a newer set to 02 is a new change", undone + ", I s3 set 2 1>2, O s3 set 2 CHANGED", 2,
         K::Change, "s3", 1, false, 0, ""},
        {"an undo not verified took nothing back",
         base + ", I u1 undo:s2 2 2>1, O u1 undo:s2 2 FAILED NOT-KEPT =02", 2, K::Change, "s2", 1,
         false, 0, ""},
        {"an interrupted undo neither", base + ", I u1 undo:s2 2 2>1", 2, K::Change, "s2", 1, false,
         0, ""},
        {"an undo of another byte", base + ", I u1 undo:s2@7 2 2>1, O u1 undo:s2@7 2 UNDONE", 2,
         K::Change, "s2", 1, false, 0, ""},
        {"undo 01", undone, 1, K::Change, "s1", 0, false, 0, ""},
        {"the latest change, not the first",
         set1 + "O s1 set 1 CHANGED, I s2 set 1 3>1, O s2 set 1 CHANGED", 1, K::Change, "s2", 3,
         false, 0, ""},
        {"undo 03: never set", base, 3, K::NoRecord, "", 0, false, 0, ""},
        {"empty journal", "", 1, K::NoRecord, "", 0, false, 0, ""},
        {"interrupted set", "I s1 set 1 0>1", 1, K::Change, "s1", 0, true, 0, ""},
        {"interrupted, closed by a later run", set1 + "O s1 set 1 INTERRUPTED", 1, K::Change, "s1",
         0, true, 0, ""},
        {"no read-back", set1 + "O s1 set 1 FAILED NO-READ-BACK", 1, K::Change, "s1", 0, true, 0,
         ""},
        {"not kept", set1 + "O s1 set 1 FAILED NOT-KEPT", 1, K::NoRecord, "", 0, false, 0, ""},
        {"write error", set1 + "O s1 set 1 FAILED WRITE-ERROR-5", 1, K::NoRecord, "", 0, false, 0,
         ""},
        {"forced same value after a change",
         set1 + "O s1 set 1 CHANGED, I s2 set 1 1>1, O s2 set 1 CHANGED", 1, K::Change, "s1", 0,
         false, 0, ""},
        {"forced same value only", "I s2 set 1 1>1, O s2 set 1 CHANGED", 1, K::NothingToTakeBack,
         "", 0, false, 0, ""},
        {"unchanged only", "O s1 set 1 UNCHANGED", 1, K::NothingToTakeBack, "", 0, false, 0, ""},
        {"unchanged of other data", "O s1 set 2 UNCHANGED", 1, K::NoRecord, "", 0, false, 0, ""},
        {"an undo's intent is no change", "I u1 undo 1 2>1", 1, K::NoRecord, "", 0, false, 0, ""},
        // The reproductions.
        {"cut intent of this byte, glued", twice + again + s3, 2, K::Damaged, "c", 0, false, 5, ""},
        {"cut intent of offset 7, glued", twice + "@7" + again + s3, 2, K::Damaged, "s3", 0, false,
         5, ""},
        {"cut intent of this byte", twice + again + " eol" + s3, 2, K::Damaged, "c", 0, false, 5,
         ""},
        {"cut intent of offset 7", twice + "@7" + again + " eol" + s3, 2, K::Change, "s3", 1, false,
         0, ""},
        {"cut outcome of this byte, glued", cutOutcome + s1s2 + set1Twice, 1, K::Damaged, "p", 0,
         false, 1, ""},
        {"cut outcome of offset 7, glued", cutOutcome + "@7" + s1s2 + set1Twice, 1, K::Damaged,
         "s1", 0, false, 1, ""},
        {"cut outcome of this byte", cutOutcome + s1s2 + " eol" + set1Twice, 1, K::Damaged, "p", 0,
         false, 1, ""},
        {"cut outcome of offset 7", cutOutcome + "@7" + s1s2 + " eol" + set1Twice, 1, K::Change,
         "s1", 0, false, 0, ""},
        // Cut records that name no setting, or a run of this byte.
        {"cut before its run", set1 + "O s1 set 1 CHANGED, I x set 1 0>1 keep10 eol", 1, K::Change,
         "s1", 0, false, 0, ""},
        {"cut after a run of this byte", set1 + "O s1 set 1 CHANGED keep15 eol", 1, K::Damaged,
         "s1", 0, false, 2, ""},
        {"cut after a run of offset 7",
         set1 + "O s1 set 1 CHANGED, I s2 set@7 1 0>1, O s2 set@7 1 CHANGED keep15 eol", 1,
         K::Change, "s1", 0, false, 0, ""},
        // Outcomes without their intent: those that claim a write damage the byte.
        {"CHANGED without intent", "O s1 set 1 CHANGED", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"UNDONE without intent", "O u1 undo:s0 1 UNDONE", 1, K::Damaged, "u1", 0, false, 0, ""},
        {"INTERRUPTED without intent", "O s1 set 1 INTERRUPTED", 1, K::Damaged, "s1", 0, false, 0,
         ""},
        {"a read-back without intent", "O s1 set 1 UNCHANGED =01", 1, K::Damaged, "s1", 0, false, 0,
         ""},
        {"NOT-KEPT without intent", "O s1 set 1 FAILED NOT-KEPT", 1, K::Damaged, "s1", 0, false, 0,
         ""},
        {"NO-READ-BACK without intent", "O s1 set 1 FAILED NO-READ-BACK", 1, K::Damaged, "s1", 0,
         false, 0, ""},
        {"WRITE-ERROR without intent", "O s1 set 1 FAILED WRITE-ERROR-5", 1, K::Damaged, "s1", 0,
         false, 0, ""},
        {"other failures need none",
         "O s1 set 1 FAILED OFFSET-OUTSIDE, O u1 undo 1 FAILED BYTE-MOVED", 1, K::NoRecord, "", 0,
         false, 0, ""},
        {"of other DATA", set1 + "O s1 set 1 CHANGED, O s2 set 2 CHANGED", 1, K::Damaged, "s2", 0,
         false, 0, ""},
        {"of offset 7", set1 + "O s1 set 1 CHANGED, O s2 set@7 1 CHANGED", 1, K::Change, "s1", 0,
         false, 0, ""},
        {"before its intent", "O s1 set 1 CHANGED 0>1, I s1 set 1 0>1", 1, K::Damaged, "s1", 0,
         false, 0, ""},
        // Intents and outcomes that differ.
        {"in old", set1 + "O s1 set 1 CHANGED 2>1", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"in new", set1 + "O s1 set 1 CHANGED 0>2", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"in DATA", set1 + "O s1 set 2 CHANGED", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"in command", set1 + "O s1 undo 1 CHANGED", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"in old's presence", set1 + "O s1 set 1 CHANGED >1", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"in new's presence", "I s1 set 1 0>0, O s1 set 1 CHANGED 0>", 1, K::Damaged, "s1", 0,
         false, 0, ""},
        {"in NAME", set1 + "O s1 set 1 CHANGED name=setup", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"in GUID", set1 + "O s1 set 1 CHANGED guid={EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA8}", 1,
         K::Damaged, "s1", 0, false, 0, ""},
        {"not in the GUID's case",
         set1 + "O s1 set 1 CHANGED guid={ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}", 1, K::Change,
         "s1", 0, false, 0, ""},
        {"in OFFSET", "I s1 set@7 1 0>1, O s1 set 1 CHANGED", 1, K::Damaged, "s1", 0, false, 0, ""},
        {"in undoes", base + ", I u1 undo:s2 2 2>1, O u1 undo:s1 2 UNDONE", 2, K::Damaged, "u1", 0,
         false, 0, ""},
        {"of offset 7 alone",
         set1 + "O s1 set 1 CHANGED, I s2 set@7 1 0>1, O s2 set@7 1 CHANGED 1>1", 1, K::Change,
         "s1", 0, false, 0, ""},
    };
    for (const auto& row : rows)
    {
        const UndoChoice choice =
            ChooseUndo(Journal(row.journal), "Setup", "{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}",
                       0x1A, static_cast<uint8_t>(row.nData));
        EXPECT_EQ(choice.kind, row.kind) << row.pszWhat;
        EXPECT_EQ(choice.run, row.pszRun) << row.pszWhat;
        EXPECT_EQ(choice.bOld, row.nOld) << row.pszWhat;
        EXPECT_EQ(choice.blInterrupted, row.blInterrupted) << row.pszWhat;
        EXPECT_EQ(choice.nLine, row.nLine) << row.pszWhat;
        EXPECT_EQ(choice.undoRun, row.pszUndoRun) << row.pszWhat;
        EXPECT_EQ(choice.undoTime, *row.pszUndoRun ? "T" + std::string(row.pszUndoRun) : "")
            << row.pszWhat;
        EXPECT_EQ(choice.damage.empty(), row.kind != K::Damaged) << row.pszWhat;
    }
    // The firmware version the change was made under, as its intent records
    // it; "" for records of earlier versions.
    const struct
    {
        std::string journal;
        K kind;
        const char* pszFirmware;
    } firmwareRows[] = {
        {set1 + "O s1 set 1 CHANGED", K::Change, ""},
        {"I s1 set 1 0>1 fw=1.2, O s1 set 1 CHANGED", K::Change, "1.2"},
        {"I s1 set 1 0>1 fw=1.2, O s1 set 1 CHANGED, I s2 set 1 3>1 fw=1.5, O s2 set 1 CHANGED",
         K::Change, "1.5"},
        {"I s1 set 1 0>1 fw=1.2, O s1 set 1 CHANGED fw=1.5", K::Change, "1.2"},
        {"I s1 set 1 0>1 fw=1.2, O s1 set 1 CHANGED, I u1 undo:s1 1 1>0 fw=1.5, O u1 undo:s1 1 "
         "UNDONE",
         K::TakenBack, "1.2"},
    };
    for (const auto& row : firmwareRows)
    {
        const UndoChoice choice = ChooseUndo(Journal(row.journal), "Setup", kGuid, 0x1A, 1);
        EXPECT_EQ(choice.kind, row.kind) << row.journal;
        EXPECT_EQ(choice.firmware, row.pszFirmware) << row.journal;
    }
    // Other names, GUIDs and offsets never count; NAME compares exactly.
    const std::string one = set1 + "O s1 set 1 CHANGED";
    const char* const kOtherGuid = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA8}";
    EXPECT_EQ(ChooseUndo(Journal(one), "Setup", kGuid, 0x1A, 1).kind, K::Change);
    EXPECT_EQ(ChooseUndo(Journal(one, "setup"), "Setup", kGuid, 0x1A, 1).kind, K::NoRecord);
    EXPECT_EQ(ChooseUndo(Journal(one, "Setup", kOtherGuid), "Setup", kGuid, 0x1A, 1).kind,
              K::NoRecord);
    EXPECT_EQ(ChooseUndo(Journal(one, "Setup", kGuid, 0x1B), "Setup", kGuid, 0x1A, 1).kind,
              K::NoRecord);
    // What the damage says.
    EXPECT_EQ(ChooseUndo(Journal(twice + again + s3), "Setup", kGuid, 0x1A, 2).damage,
              "line 5 is no whole record and names this byte (run c)");
    EXPECT_EQ(ChooseUndo(Journal("O s1 set 1 FAILED NOT-KEPT"), "Setup", kGuid, 0x1A, 1).damage,
              "run s1 has an outcome FAILED NOT-KEPT without its intent");
    EXPECT_EQ(ChooseUndo(Journal(set1 + "O s1 set 1 CHANGED 2>1"), "Setup", kGuid, 0x1A, 1).damage,
              "run s1 has an intent and an outcome that differ");
}

TEST(FleetUndo, InterruptedRunsInJournalOrder)
{
    EXPECT_EQ(
        InterruptedRuns(Journal(
            "I a set 1 0>1, I b undo 1 1>0, O b undo 1 UNDONE, I c set 1 0>1, I a set 1 0>1")),
        (std::vector<std::string>{"a", "c"}));
}

// ---- Summary ----

TEST(FleetSummary, LineAndJsonRows)
{
    RunSummary changed;
    changed.outcome = "CHANGED";
    changed.command = "set";
    changed.blHaveOld = changed.blHaveNew = changed.blHaveReadBack = true;
    changed.bOld = 0x03;
    changed.bNew = changed.bReadBack = 0x7E;
    changed.run = "PC1-20261209T140509Z-1a2b";
    RunSummary refused;
    refused.outcome = "REFUSED";
    refused.nExitCode = -1;
    refused.reason = "BAD ARG\"\\\x1F\xFF";
    // A model of SMBIOS's longest, cut so that the run id and words stay whole.
    RunSummary identified = changed;
    identified.model = "Model " + std::string(122, 'x');
    identified.firmware = "1.2.3";
    identified.blHaveSize = true;
    identified.dwSize = 4096;
    RunSummary quoted = changed;
    quoted.model = "Nelvrik \"14\"";
    quoted.blHaveSize = true;
    const struct
    {
        const RunSummary* pSummary;
        const char* pszLine;
        const char* pszJson;
    } rows[] = {
        {&changed,
         "RESULT=CHANGED EXIT=0 OLD=03 NEW=7E READ=7E REASON= RUN=PC1-20261209T140509Z-1a2b",
         "{\"result\":\"CHANGED\",\"exit\":0,\"command\":\"set\",\"old\":\"03\",\"new\":\"7E\","
         "\"read\":\"7E\",\"reason\":null,\"run\":\"PC1-20261209T140509Z-1a2b\","
         "\"model\":null,\"firmware\":null,\"size\":null}"},
        {&refused, "RESULT=REFUSED EXIT=-1 OLD= NEW= READ= REASON=BAD_ARG\"\\_\xFF RUN=",
         "{\"result\":\"REFUSED\",\"exit\":-1,\"command\":null,\"old\":null,\"new\":null,"
         "\"read\":null,\"reason\":\"BAD ARG\\\"\\\\\\u001f\\ufffd\",\"run\":null,"
         "\"model\":null,\"firmware\":null,\"size\":null}"},
        {&identified,
         "RESULT=CHANGED EXIT=0 OLD=03 NEW=7E READ=7E REASON= RUN=PC1-20261209T140509Z-1a2b",
         "{\"result\":\"CHANGED\",\"exit\":0,\"command\":\"set\",\"old\":\"03\",\"new\":\"7E\","
         "\"read\":\"7E\",\"reason\":null,\"run\":\"PC1-20261209T140509Z-1a2b\","
         "\"model\":\"Model xxxxxxxxxxxxxxxxxxxxxxxxx\",\"firmware\":\"1.2.3\",\"size\":4096}"},
        {&quoted,
         "RESULT=CHANGED EXIT=0 OLD=03 NEW=7E READ=7E REASON= RUN=PC1-20261209T140509Z-1a2b",
         "{\"result\":\"CHANGED\",\"exit\":0,\"command\":\"set\",\"old\":\"03\",\"new\":\"7E\","
         "\"read\":\"7E\",\"reason\":null,\"run\":\"PC1-20261209T140509Z-1a2b\","
         "\"model\":\"Nelvrik \\\"14\\\"\",\"firmware\":null,\"size\":0}"},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(FormatSummaryLine(*row.pSummary), row.pszLine);
        EXPECT_EQ(FormatSummaryJson(*row.pSummary), row.pszJson);
        EXPECT_LE(strlen(row.pszJson), kSummaryMaxChars);
    }
    RunSummary huge = refused;
    huge.run = std::string(150, '\x01') + std::string(100, '\xE9');
    huge.reason = std::string(300, '"');
    huge.outcome = "\xC3\xA9" + std::string(300, 'X');
    huge.command = std::string(300, '\\');
    huge.model = std::string(300, '"');
    huge.firmware = std::string(100, '\x01');
    huge.blHaveSize = true;
    huge.dwSize = 4294967295u;
    const std::string line = FormatSummaryLine(huge);
    const std::string json = FormatSummaryJson(huge);
    EXPECT_EQ(line.size(), kSummaryMaxChars);
    EXPECT_LE(json.size(), kSummaryMaxChars);
    EXPECT_EQ(json.back(), '}');
    EXPECT_NE(json.find("\"result\":\"\xC3\xA9XX\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"model\":\"\\\"\",\"firmware\":\"\\u0001\",\"size\":4294967295}"),
              std::string::npos)
        << json;
}

// ---- Report ----

TEST(FleetReport, TextAndCsvRows)
{
    const char* const kLower = "{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}";
    // Setting DATA 06 by model and firmware version: PC-G's last run counts,
    // PC-D's line is of a log written before the fields.
    auto on = [](LogEntry entry, const char* pszModel, const char* pszFirmware)
    {
        entry[kLogModel] = pszModel;
        entry[kLogFirmware] = pszFirmware;
        entry[kLogSize] = "4096";
        return entry;
    };
    const char* const t = "2026-12-09T08:00:00Z";
    ReportInput input;
    input.entries = {
        LogRun("2026-12-09T10:00:00Z", "PC-B", "FAILED", "NOT-KEPT", "255"),
        LogRun("2026-12-09T11:00:00Z", "pc-b", "CHANGED", "", "3010", "001a", "5", kLower),
        LogRun("2026-12-09T09:00:00Z", "PC-A", "CHANGED", ""),
        LogRun("2026-12-09T12:00:00Z", "PC-A", "BUSY", "LOCK-BUSY", "1618", "1A", "05", kGuid,
               "check"),
        LogRun(t, "PC-C", "FAILED", "WRITE-ERROR-5", "255"),
        LogRun(t, "PC-C", "NOT-POSSIBLE", "OFFSET-OUTSIDE", "255"),
        LogRun(t, "PC-D", "HOLDS", "", "0", "1A", "06"),
        on(LogRun(t, "PC-G", "FAILED", "OTHER-FIRMWARE", "255", "1A", "06"), "Model A", "1.5"),
        on(LogRun(t, "PC-E", "CHANGED", "", "0", "1A", "06"), "Model A", "1.2"),
        on(LogRun(t, "PC-F", "FAILED", "OTHER-FIRMWARE", "255", "1A", "06"), "Model A", "1.5"),
        on(LogRun(t, "PC-H", "NOT-POSSIBLE", "OTHER-SIZE", "255", "1A", "06"), "Model B", ""),
        on(LogRun(t, "PC-I", "UNCHANGED", "", "0", "1A", "06"), "Model A", "1.5"),
        on(LogRun(t, "PC-G", "CHANGED", "", "0", "1A", "06"), "Model A", "1.2"),
    };
    input.nUnreadableLines = 2;
    input.unreadableFiles = {"\\\\srv\\logs\\PC-E.log"};
    const std::string text = FormatReportText(input);
    const char* const kParts[] = {
        "13 runs read, 2 settings",
        "Setting NAME Setup GUID {EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9} OFFSET 1A DATA 05\n"
        "  PCs                   3\n"
        "  CHANGED               1\n"
        "  UNCHANGED             0\n",
        "  FAILED                0\n"
        "  NOT-POSSIBLE          1\n"
        "      OFFSET-OUTSIDE        1\n"
        "  BUSY                  1\n"
        "      LOCK-BUSY             1\n"
        "  By model and firmware version:\n"
        "    model unknown, firmware unknown: 1 CHANGED, 1 NOT-POSSIBLE OFFSET-OUTSIDE, 1 BUSY "
        "LOCK-BUSY\n"
        "  PCs whose last run failed: 2\n"
        "    PC-A  BUSY LOCK-BUSY  exit 1618  check 2026-12-09T12:00:00Z\n"
        "    PC-C  NOT-POSSIBLE OFFSET-OUTSIDE  exit 255  set 2026-12-09T08:00:00Z\n",
        "OFFSET 1A DATA 06\n  PCs                   6\n  CHANGED               2\n",
        "  HOLDS                 1\n"
        "  READY                 0\n"
        "  FAILED                1\n"
        "      OTHER-FIRMWARE        1\n"
        "  NOT-POSSIBLE          1\n"
        "      OTHER-SIZE            1\n"
        "  By model and firmware version:\n"
        "    model \"Model A\", firmware \"1.2\": 2 CHANGED\n"
        "    model \"Model A\", firmware \"1.5\": 1 UNCHANGED, 1 FAILED OTHER-FIRMWARE\n"
        "    model \"Model B\", firmware unknown: 1 NOT-POSSIBLE OTHER-SIZE\n"
        "    model unknown, firmware unknown: 1 HOLDS\n"
        "  PCs whose last run failed: 2\n",
        "Lines that are no log entries: 2\n",
        "    \\\\srv\\logs\\PC-E.log\n",
    };
    for (const char* pszPart : kParts)
        EXPECT_NE(text.find(pszPart), std::string::npos) << pszPart << "\n--- in ---\n" << text;
    const std::string g = kGuid;
    EXPECT_EQ(FormatReportCsv(input),
              "name,guid,offset,data,model,firmware,outcome,reason,pcs,computers\r\n"
              "Setup," +
                  g +
                  ",1A,05,,,CHANGED,,1,pc-b\r\n"
                  "Setup," +
                  g +
                  ",1A,05,,,NOT-POSSIBLE,OFFSET-OUTSIDE,1,PC-C\r\n"
                  "Setup," +
                  g +
                  ",1A,05,,,BUSY,LOCK-BUSY,1,PC-A\r\n"
                  "Setup," +
                  g +
                  ",1A,06,Model A,1.2,CHANGED,,2,PC-E PC-G\r\n"
                  "Setup," +
                  g +
                  ",1A,06,Model A,1.5,UNCHANGED,,1,PC-I\r\n"
                  "Setup," +
                  g +
                  ",1A,06,Model A,1.5,FAILED,OTHER-FIRMWARE,1,PC-F\r\n"
                  "Setup," +
                  g +
                  ",1A,06,Model B,,NOT-POSSIBLE,OTHER-SIZE,1,PC-H\r\n"
                  "Setup," +
                  g + ",1A,06,,,HOLDS,,1,PC-D\r\n");

    ReportInput odd;
    odd.entries = {LogRun("t", "PC\r1", "FAILED", "", "2", "1A", "05", "a,\"b\"")};
    EXPECT_NE(FormatReportText(odd).find("    PC?1  FAILED (no reason)  exit 2"),
              std::string::npos);
    EXPECT_NE(FormatReportCsv(odd).find("Setup,\"a,\"\"b\"\"\",1A,05,,,FAILED,,1,\"PC\r1\"\r\n"),
              std::string::npos);
    EXPECT_NE(FormatReportText(ReportInput()).find("No runs found."), std::string::npos);
}

TEST(FleetReport, LastRunByFileOrderThenTime)
{
    struct Line
    {
        size_t nFile;
        const char* pszTime;
        const char* pszOutcome;
    };
    const struct
    {
        const char* pszWhat;
        std::vector<Line> lines; // one PC's runs of one setting, in the order read
        const char* pszLast;     // the outcome of the run it is judged by
        bool blFileIndexes;      // false: entryFiles left empty
    } rows[] = {
        {"a clock reset: the later line",
         {{0, "12", "CHANGED"}, {0, "08", "FAILED"}},
         "FAILED",
         true},
        {"without file indexes: one file",
         {{0, "12", "CHANGED"}, {0, "08", "FAILED"}},
         "FAILED",
         false},
        {"two files: the later time", {{0, "10", "FAILED"}, {1, "09", "CHANGED"}}, "FAILED", true},
        {"read the other way round", {{0, "09", "CHANGED"}, {1, "10", "FAILED"}}, "FAILED", true},
        {"equal times: the one read later",
         {{0, "10", "FAILED"}, {1, "10", "CHANGED"}},
         "CHANGED",
         true},
        {"each file's last line, then times",
         {{0, "11", "CHANGED"}, {0, "08", "FAILED"}, {1, "09", "UNCHANGED"}},
         "UNCHANGED",
         true},
        {"files apart from read order",
         {{1, "08", "FAILED"}, {0, "09", "CHANGED"}, {1, "07", "UNCHANGED"}},
         "CHANGED",
         true},
    };
    for (const auto& row : rows)
    {
        ReportInput input;
        for (const Line& line : row.lines)
        {
            const std::string time = std::string("2026-12-09T") + line.pszTime + ":00:00Z";
            input.entries.push_back(LogRun(time.c_str(), "PC-X", line.pszOutcome, ""));
            if (row.blFileIndexes)
                input.entryFiles.push_back(line.nFile);
        }
        EXPECT_EQ(FormatReportCsv(input),
                  "name,guid,offset,data,model,firmware,outcome,reason,pcs,computers\r\n"
                  "Setup,{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9},1A,05,,," +
                      std::string(row.pszLast) + ",,1,PC-X\r\n")
            << row.pszWhat;
    }
}

TEST(FleetReport, CsvCellsNeverStartAFormula)
{
    const std::string g = kGuid;
    const struct
    {
        LogField field;
        const char* pszValue;
        std::string row; // as the CSV shows it
    } rows[] = {
        {kLogComputer, "=1+2", "Setup," + g + ",1A,05,,,CHANGED,,1,'=1+2"},
        {kLogComputer, "@SUM(A1)", "Setup," + g + ",1A,05,,,CHANGED,,1,'@SUM(A1)"},
        {kLogComputer, "+1", "Setup," + g + ",1A,05,,,CHANGED,,1,'+1"},
        {kLogComputer, "-1", "Setup," + g + ",1A,05,,,CHANGED,,1,'-1"},
        {kLogComputer, "\tPC", "Setup," + g + ",1A,05,,,CHANGED,,1,'\tPC"},
        {kLogComputer, "\rPC", "Setup," + g + ",1A,05,,,CHANGED,,1,\"'\rPC\""},
        {kLogComputer, "PC=1", "Setup," + g + ",1A,05,,,CHANGED,,1,PC=1"},
        {kLogName, "=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0," + g + ",1A,05,,,CHANGED,,1,PC"},
        {kLogGuid, "@g", "Setup,'@g,1A,05,,,CHANGED,,1,PC"},
        {kLogOffset, "-1A", "Setup," + g + ",'-1A,05,,,CHANGED,,1,PC"},
        {kLogData, "+5", "Setup," + g + ",1A,'+5,,,CHANGED,,1,PC"},
        {kLogOutcome, "=x", "Setup," + g + ",1A,05,,,'=X,,1,PC"},
        {kLogReason, "-r,s", "Setup," + g + ",1A,05,,,CHANGED,\"'-r,s\",1,PC"},
        {kLogModel, "=HYPERLINK(\"x\")",
         "Setup," + g + ",1A,05,\"'=HYPERLINK(\"\"x\"\")\",,CHANGED,,1,PC"},
        {kLogFirmware, "-1.2,3", "Setup," + g + ",1A,05,,\"'-1.2,3\",CHANGED,,1,PC"},
    };
    for (const auto& row : rows)
    {
        ReportInput input;
        input.entries = {LogRun("t", "PC", "CHANGED", "")};
        input.entries[0][row.field] = row.pszValue;
        EXPECT_EQ(FormatReportCsv(input),
                  "name,guid,offset,data,model,firmware,outcome,reason,pcs,computers\r\n" +
                      row.row + "\r\n")
            << row.pszValue;
    }
}

TEST(FleetReport, LogFilesAsReadLogReadsThem)
{
    // A second header mid-file, and a line cut inside its quoted messages
    // field (with the line end the writer adds) before whole lines.
    const std::string header = FormatLogHeader();
    ReportInput input;
    AddLogFile(ReadLog(header + LogLine("PC1") + CutBefore(LogLine("PC2"), "Written;") + "\r\n" +
                       LogLine("PC3") + header + LogLine("PC4")),
               &input);
    AddLogFile(ReadLog(header + LogLine("PC5")), &input);
    EXPECT_EQ(input.entryFiles, (std::vector<size_t>{0, 0, 0, 1}));
    EXPECT_EQ(input.nFiles, 2u);
    EXPECT_EQ(input.nUnreadableLines, 1u);
    const std::string text = FormatReportText(input);
    EXPECT_NE(text.find("4 runs read, 1 setting"), std::string::npos) << text;
    EXPECT_NE(text.find("  PCs                   4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Lines that are no log entries: 1\n"
                        "Files that could not be read: 0\n"),
              std::string::npos)
        << text;
}

// ---- The PC's identity from SMBIOS ----

namespace
{

using Bytes = std::vector<uint8_t>;

// One structure: type, formatted length, {offset, byte} of its formatted
// area (the rest zero; the 4-byte header always written), then its strings.
Bytes Structure(uint8_t bType, uint8_t bLength,
                const std::vector<std::pair<size_t, uint8_t>>& fields,
                const std::vector<std::string>& strings)
{
    Bytes b(std::max<size_t>(bLength, 4), 0);
    b[0] = bType;
    b[1] = bLength;
    b[2] = 0x34; // handle
    for (const auto& field : fields)
        b.at(field.first) = field.second;
    for (const std::string& str : strings)
    {
        b.insert(b.end(), str.begin(), str.end());
        b.push_back(0);
    }
    if (strings.empty())
        b.push_back(0);
    b.push_back(0);
    return b;
}

// A structure whose fields at the offsets name the values in order: an
// empty value is string number 0 and no string; fields past the formatted
// length are left out.
Bytes Named(uint8_t bType, uint8_t bLength, const std::vector<size_t>& offsets,
            const std::vector<std::string>& values)
{
    std::vector<std::pair<size_t, uint8_t>> fields;
    std::vector<std::string> strings;
    for (size_t i = 0; i < offsets.size(); ++i)
    {
        if (!values[i].empty())
            strings.push_back(values[i]);
        if (offsets[i] < bLength)
            fields.emplace_back(offsets[i],
                                static_cast<uint8_t>(values[i].empty() ? 0 : strings.size()));
    }
    return Structure(bType, bLength, fields, strings);
}

Bytes Firmware(const std::string& vendor, const std::string& version, const std::string& date,
               uint8_t bLength = 0x18)
{
    return Named(0, bLength, {4, 5, 8}, {vendor, version, date});
}

Bytes System(const std::string& maker, const std::string& product, const std::string& sku,
             uint8_t bLength = 0x1B)
{
    return Named(1, bLength, {4, 5, 0x19}, {maker, product, sku});
}

// The RSMB header (SMBIOS 3.4) whose length is that of the parts plus
// nLengthChange, then the parts.
Bytes Rsmb(const std::vector<Bytes>& parts, int nLengthChange = 0)
{
    Bytes body;
    for (const Bytes& part : parts)
        body.insert(body.end(), part.begin(), part.end());
    const uint32_t dwLength = static_cast<uint32_t>(body.size() + nLengthChange);
    Bytes table = {0, 3, 4, 0};
    for (int nShift = 0; nShift < 32; nShift += 8)
        table.push_back(static_cast<uint8_t>(dwLength >> nShift));
    table.insert(table.end(), body.begin(), body.end());
    return table;
}

Bytes Cut(const Bytes& b, size_t cbKeep)
{
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(cbKeep));
}

Bytes Plus(Bytes b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
    return b;
}

std::vector<std::string> Values(const PcIdentity& id)
{
    return {id.systemMaker,    id.productName,     id.sku,
            id.firmwareVendor, id.firmwareVersion, id.firmwareDate};
}

// Parsed from an exactly sized heap block: ASan reports a byte read past it.
bool ParseExactly(const Bytes& table, PcIdentity* pIdentity)
{
    std::unique_ptr<uint8_t[]> pb(new uint8_t[table.size() + !table.size()]);
    if (!table.empty())
        memcpy(pb.get(), table.data(), table.size());
    *pIdentity = PcIdentity{"stale", "stale", "stale", "stale", "stale", "stale"};
    return ParseSmbiosIdentity(pb.get(), table.size(), pIdentity);
}

struct SmbiosRow
{
    const char* pszWhat;
    Bytes table;
    bool blWhole;
    PcIdentity identity;
};

} // namespace

TEST(FleetSmbios, TableRows)
{
    const Bytes f = Firmware("Firmware Co", "V1.02", "03/04/2025");
    const Bytes s = System("Maker Co", "Model 7", "SKU-7");
    const Bytes e = Structure(127, 4, {}, {});
    const PcIdentity all = {"Maker Co", "Model 7", "SKU-7", "Firmware Co", "V1.02", "03/04/2025"};
    const PcIdentity system = {"Maker Co", "Model 7", "SKU-7", "", "", ""};
    const PcIdentity firmware = {"", "", "", "Firmware Co", "V1.02", "03/04/2025"};
    const size_t cbSystemStrings = strlen("Maker Co_Model 7_SKU-7_") + 1;
    const SmbiosRow rows[] = {
        {"whole", Rsmb({f, s, e}), true, all},
        {"other types between, as Wine writes them",
         Rsmb({f, s, Structure(3, 0x15, {}, {}), Structure(2, 0x0F, {{4, 1}}, {"Board"}), e}), true,
         all},
        {"no end-of-table structure, ends at the table's end", Rsmb({f, s}), true, all},
        {"the header alone", Rsmb({}), true, {}},
        {"truncated inside a formatted area", Rsmb({f, Cut(s, 10)}), false, firmware},
        {"truncated inside a string",
         Rsmb({f, Cut(s, s.size() - cbSystemStrings + 12)}),
         false,
         {"Maker Co", "", "", "Firmware Co", "V1.02", "03/04/2025"}},
        {"no terminator: the last string set ends in one zero", Rsmb({f, Cut(s, s.size() - 1)}),
         false, all},
        {"end-of-table without its string set", Rsmb({f, s, Cut(e, 4)}), false, all},
        {"header length past the bytes given", Rsmb({f, s, e}, 1), false, all},
        {"bytes given cut inside the last string",
         Cut(Rsmb({f, s, e}), 8 + f.size() + s.size() - 3),
         false,
         {"Maker Co", "Model 7", "", "Firmware Co", "V1.02", "03/04/2025"}},
        {"bytes past the header's length are not read", Plus(Rsmb({f}), s), true, firmware},
        {"nothing after the end-of-table structure is read", Rsmb({f, e, s}), true, firmware},
        {"string number past the strings",
         Rsmb({Structure(1, 0x1B, {{4, 1}, {5, 2}, {0x19, 9}}, {"Maker Co", "Model 7"}), e}),
         true,
         {"Maker Co", "Model 7", "", "", "", ""}},
        {"string number 0 is none",
         Rsmb({Structure(1, 0x1B, {{4, 1}, {0x19, 2}}, {"Maker Co", "SKU-7"})}),
         true,
         {"Maker Co", "", "SKU-7", "", "", ""}},
        {"the strings end at the first empty one",
         Rsmb({Structure(1, 0x1B, {{4, 1}, {5, 2}}, {"", "Model 7"})}),
         true,
         {}},
        {"no type 1", Rsmb({f, e}), true, firmware},
        {"no type 0", Rsmb({s, e}), true, system},
        {"two type 1: the first counts, also for the SKU it lacks",
         Rsmb({System("Maker A", "Model A", "", 0x19), s, f, e}),
         true,
         {"Maker A", "Model A", "", "Firmware Co", "V1.02", "03/04/2025"}},
        {"two type 0: the first counts", Rsmb({f, Firmware("B", "V2", "01/01/2030"), s, e}), true,
         all},
        {"SKU absent in a 2.3 type 1 (the next byte, 2, would name the product)",
         Rsmb({f, System("\x02Maker Co", "Model 7", "SKU-7", 0x19), e}),
         true,
         {"?Maker Co", "Model 7", "", "Firmware Co", "V1.02", "03/04/2025"}},
        {"SMBIOS 2.0 lengths: type 1 of 8, type 0 of 0x12",
         Rsmb({Firmware("Firmware Co", "V1.02", "03/04/2025", 0x12),
               System("Maker Co", "Model 7", "SKU-7", 8), e}),
         true,
         {"Maker Co", "Model 7", "", "Firmware Co", "V1.02", "03/04/2025"}},
        {"type 0 ending before its date (the next byte, 3, would name it)",
         Rsmb({Firmware("\x03"
                        "Firmware Co",
                        "V1.02", "x", 8),
               e}),
         true,
         {"", "", "", "?Firmware Co", "V1.02", ""}},
        {"type 1 of length 5: the maker only",
         Rsmb({System("Maker Co", "Model 7", "SKU-7", 5), e}),
         true,
         {"Maker Co", "", "", "", "", ""}},
        {"formatted length below 4 first", Rsmb({Structure(1, 3, {}, {}), s, e}), false, {}},
        {"formatted length 0 after type 0", Rsmb({f, Structure(0x80, 0, {}, {}), s, e}), false,
         firmware},
        {"formatted length past the table", Rsmb({f, Cut(Structure(1, 0x1B, {}, {}), 6)}), false,
         firmware},
        {"a structure header cut", Rsmb({f, Bytes{1, 0x1B}}), false, firmware},
        {"shorter than the header", Cut(Rsmb({}), 7), false, {}},
        {"nothing", Bytes(), false, {}},
        {"string bytes: trailing spaces dropped, others shown as ?",
         Rsmb({System(" Maker\tCo   ",
                      "Mod\x01"
                      "el\xFF 7\x7F",
                      "   "),
               e}),
         true,
         {" Maker?Co", "Mod?el? 7?", "", "", "", ""}},
        {"a long string is cut",
         Rsmb({System(std::string(300, 'x'), std::string(kSmbiosMaxValueChars - 2, 'y') + "  z",
                      "")}),
         true,
         {std::string(kSmbiosMaxValueChars, 'x'), std::string(kSmbiosMaxValueChars - 2, 'y'), "",
          "", "", ""}},
    };
    for (const SmbiosRow& row : rows)
    {
        PcIdentity identity;
        EXPECT_EQ(ParseExactly(row.table, &identity), row.blWhole) << row.pszWhat;
        EXPECT_EQ(Values(identity), Values(row.identity)) << row.pszWhat;
    }
    PcIdentity identity;
    EXPECT_FALSE(ParseSmbiosIdentity(nullptr, 0, &identity));
}

#ifdef ARDENTIS_SMBIOS_CORPUS
// Tables made by the end-to-end tests' builder, smbios_table() in
// tests/e2e/test_e2e.py (SMBIOS_HELPER_TABLES): it builds what it means to.
TEST(FleetSmbios, EndToEndBuilderTables)
{
    const struct
    {
        const char* pszFile;
        bool blWhole;
        PcIdentity identity;
    } rows[] = {
        {"helper_whole",
         true,
         {"Maker Co", "Model 7", "SKU-7", "Firmware Co", "V1.02", "03/04/2025"}},
        {"helper_faults", false, {"Maker Co", "", "", "Firmware Co", "V1.02", ""}},
        {"helper_short", false, {"Maker Co", "Model 7", "", "", "", ""}},
    };
    for (const auto& row : rows)
    {
        std::ifstream file(std::string(ARDENTIS_SMBIOS_CORPUS "/") + row.pszFile, std::ios::binary);
        ASSERT_TRUE(file) << row.pszFile;
        const Bytes table((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        PcIdentity identity;
        EXPECT_EQ(ParseExactly(table, &identity), row.blWhole) << row.pszFile;
        EXPECT_EQ(Values(identity), Values(row.identity)) << row.pszFile;
    }
}
#endif
