// The fleet program's pure logic: command line, record files, journal, undo
// choice, summary line, report and the PC's identity from SMBIOS.
#include "fleet/fleet_args.h"
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
#include <memory>
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
    ASSERT_TRUE(Parse({"report", "--CSV", "C:\\logs"}, &r, &error));
    EXPECT_EQ(r.command, FleetCommand::Report);
    EXPECT_EQ(r.logFolder, "C:\\logs");
    EXPECT_TRUE(r.blCsv && !r.blHaveBusyCode);
    EXPECT_EQ(HexOffset(0), "0");
    EXPECT_EQ(HexOffset(0xABC0012u), "ABC0012");
    EXPECT_EQ(HexByte(0x0A), "0A");
}

TEST(FleetArgs, UsageNamesEveryCommandAndOption)
{
    const std::string usage = FleetUsageText();
    for (const char* pszWord :
         {"ArdentisFleet64.exe", "ArdentisFleet.exe", "check ", "set ", "undo ", "report ",
          "--force", "--detect", "--json", "--log", "--reboot-code", "--busy-code", "--csv"})
        EXPECT_NE(usage.find(pszWord), std::string::npos) << pszWord;
    EXPECT_EQ(usage.back(), '\n');
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
    EXPECT_EQ(FormatLogHeader(), "time;computer;run;command;name;guid;offset;data;old;read back;"
                                 "outcome;exit code;reason;messages;backup\r\n");
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
    read[1].pop_back();
    EXPECT_FALSE(LogEntryFromRecord(read[1], &back));
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
    }
    EXPECT_EQ(FormatJournalRecord(outcome), "OUTCOME;;;;;;0;00;;;;;FAILED;7E;-2147483648;"
                                            "WRITE-ERROR-5\r\n");

    const RecordFields good = {"INTENT", "t",  "r", "set", "n", kGuid, "1a", "0f",
                               "",       "0F", "",  "",    "",  "",    "-1", ""};
    JournalRecord back;
    EXPECT_TRUE(JournalRecordFromFields(good, &back));
    const struct
    {
        size_t nField;
        const char* pszValue;
    } bad[] = {{0, "intent"}, {0, ""},    {6, ""},    {6, "123456789"}, {6, "0x1"},
               {7, "F"},      {7, ""},    {8, "1"},   {9, "123"},       {13, "G0"},
               {14, ""},      {14, "+1"}, {14, "01"}, {14, "-0"},       {14, "2147483648"},
               {14, "1 "}};
    for (const auto& row : bad)
    {
        RecordFields fields = good;
        fields[row.nField] = row.pszValue;
        EXPECT_FALSE(JournalRecordFromFields(fields, &back)) << row.nField << " " << row.pszValue;
    }
    RecordFields longer = good;
    longer.push_back("");
    EXPECT_FALSE(JournalRecordFromFields(longer, &back));
}

// ---- Undo choice ----

namespace
{

// A journal in short: records separated by ", ", each "I RUN COMMAND DATA OLD>NEW" (an
// intent) or "O RUN COMMAND DATA OUTCOME [REASON]", bytes in hexadecimal.
std::vector<JournalRecord> Journal(const std::string& text, const char* pszName = "Setup",
                                   const char* pszGuid = kGuid, uint32_t dwOffset = 0x1A)
{
    std::vector<JournalRecord> records;
    std::vector<RecordFields> lines;
    std::string spaced = text;
    for (char& ch : spaced)
        ch = ch == ' ' ? ';' : ch == ',' ? '\n' : ch;
    EXPECT_TRUE(ParseRecords(spaced, &lines));
    for (RecordFields words : lines)
    {
        if (words[0].empty())
            words.erase(words.begin()); // the space after the comma
        words.resize(6);
        JournalRecord r;
        r.kind = words[0] == "I" ? JournalKind::Intent : JournalKind::Outcome;
        r.run = words[1];
        r.command = words[2];
        r.name = pszName;
        r.guid = pszGuid;
        r.dwOffset = dwOffset;
        r.bData = static_cast<uint8_t>(std::stoul(words[3], nullptr, 16));
        if (r.kind == JournalKind::Intent)
        {
            r.blHaveOld = r.blHaveNew = true;
            r.bOld = static_cast<uint8_t>(std::stoul(words[4], nullptr, 16));
            r.bNew = static_cast<uint8_t>(
                std::stoul(words[4].substr(words[4].find('>') + 1), nullptr, 16));
        }
        else
        {
            r.outcome = words[4];
            r.reason = words[5];
        }
        records.push_back(r);
    }
    return records;
}

} // namespace

TEST(FleetUndo, ScenarioRows)
{
    using K = UndoChoice::Kind;
    // Original 00; set 01 (00->01, CHANGED); set 02 (01->02, CHANGED); then undo 02 (02->01).
    const std::string base =
        "I s1 set 1 0>1, O s1 set 1 CHANGED, I s2 set 2 1>2, O s2 set 2 CHANGED";
    const std::string undone = base + ", I u1 undo 2 2>1, O u1 undo 2 UNDONE";
    const std::string set1 = "I s1 set 1 0>1, ";
    const struct
    {
        const char* pszWhat;
        std::string journal;
        int nData;
        K kind;
        const char* pszRun;
        int nOld;
        bool blInterrupted;
    } rows[] = {
        {"undo 02", base, 2, K::Change, "s2", 1, false},
        {"undo 02 again after undo 02", undone, 2, K::Change, "s2", 1, false},
        {"and a third time", undone + ", O u2 undo 2 UNCHANGED", 2, K::Change, "s2", 1, false},
        {"undo 01", undone, 1, K::Change, "s1", 0, false},
        {"undo 03: never set", base, 3, K::NoRecord, "", 0, false},
        {"empty journal", "", 1, K::NoRecord, "", 0, false},
        {"interrupted set", "I s1 set 1 0>1", 1, K::Change, "s1", 0, true},
        {"interrupted, closed by a later run", set1 + "O s1 set 1 INTERRUPTED", 1, K::Change, "s1",
         0, true},
        {"no read-back", set1 + "O s1 set 1 FAILED NO-READ-BACK", 1, K::Change, "s1", 0, true},
        {"not kept", set1 + "O s1 set 1 FAILED NOT-KEPT", 1, K::NoRecord, "", 0, false},
        {"write error", set1 + "O s1 set 1 FAILED WRITE-ERROR-5", 1, K::NoRecord, "", 0, false},
        {"forced same value after a change",
         set1 + "O s1 set 1 CHANGED, I s2 set 1 1>1, O s2 set 1 CHANGED", 1, K::Change, "s1", 0,
         false},
        {"forced same value only", "I s2 set 1 1>1, O s2 set 1 CHANGED", 1, K::NothingToTakeBack,
         "", 0, false},
        {"unchanged only", "O s1 set 1 UNCHANGED", 1, K::NothingToTakeBack, "", 0, false},
        {"unchanged of other data", "O s1 set 2 UNCHANGED", 1, K::NoRecord, "", 0, false},
        {"an undo's intent is no change", "I u1 undo 1 2>1", 1, K::NoRecord, "", 0, false},
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
    const struct
    {
        const RunSummary* pSummary;
        const char* pszLine;
        const char* pszJson;
    } rows[] = {
        {&changed,
         "RESULT=CHANGED EXIT=0 OLD=03 NEW=7E READ=7E REASON= RUN=PC1-20261209T140509Z-1a2b",
         "{\"result\":\"CHANGED\",\"exit\":0,\"command\":\"set\",\"old\":\"03\",\"new\":\"7E\","
         "\"read\":\"7E\",\"reason\":null,\"run\":\"PC1-20261209T140509Z-1a2b\"}"},
        {&refused, "RESULT=REFUSED EXIT=-1 OLD= NEW= READ= REASON=BAD_ARG\"\\_\xFF RUN=",
         "{\"result\":\"REFUSED\",\"exit\":-1,\"command\":null,\"old\":null,\"new\":null,"
         "\"read\":null,\"reason\":\"BAD ARG\\\"\\\\\\u001f\\ufffd\",\"run\":null}"},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(FormatSummaryLine(*row.pSummary), row.pszLine);
        EXPECT_EQ(FormatSummaryJson(*row.pSummary), row.pszJson);
    }
    RunSummary huge = refused;
    huge.run = std::string(150, '\x01') + std::string(100, '\xE9');
    huge.reason = std::string(300, '"');
    huge.outcome = "\xC3\xA9" + std::string(300, 'X');
    huge.command = std::string(300, '\\');
    const std::string line = FormatSummaryLine(huge);
    const std::string json = FormatSummaryJson(huge);
    EXPECT_EQ(line.size(), kSummaryMaxChars);
    EXPECT_LE(json.size(), kSummaryMaxChars);
    EXPECT_EQ(json.back(), '}');
    EXPECT_NE(json.find("\"result\":\"\xC3\xA9XXXXXX\""), std::string::npos) << json;
}

// ---- Report ----

namespace
{

LogEntry LogRun(const char* pszTime, const char* pszPc, const char* pszOutcome,
                const char* pszReason, const char* pszExit = "0", const char* pszOffset = "1A",
                const char* pszData = "05", const char* pszGuid = kGuid,
                const char* pszCommand = "set")
{
    return {pszTime, pszPc, "r",        pszCommand, "Setup",   pszGuid, pszOffset, pszData,
            "",      "",    pszOutcome, pszExit,    pszReason, "",      ""};
}

} // namespace

TEST(FleetReport, TextAndCsvRows)
{
    const char* const kLower = "{ec87d643-eba4-4bb5-a1e5-3f3e36b20da9}";
    ReportInput input;
    input.entries = {
        LogRun("2026-12-09T10:00:00Z", "PC-B", "FAILED", "NOT-KEPT", "255"),
        LogRun("2026-12-09T11:00:00Z", "pc-b", "CHANGED", "", "3010", "001a", "5", kLower),
        LogRun("2026-12-09T09:00:00Z", "PC-A", "CHANGED", ""),
        LogRun("2026-12-09T12:00:00Z", "PC-A", "BUSY", "LOCK-BUSY", "1618", "1A", "05", kGuid,
               "check"),
        LogRun("2026-12-09T08:00:00Z", "PC-C", "FAILED", "WRITE-ERROR-5", "255"),
        LogRun("2026-12-09T08:00:00Z", "PC-C", "NOT-POSSIBLE", "OFFSET-OUTSIDE", "255"),
        LogRun("2026-12-09T08:00:00Z", "PC-D", "HOLDS", "", "0", "1A", "06"),
    };
    input.nUnreadableLines = 2;
    input.unreadableFiles = {"\\\\srv\\logs\\PC-E.log"};
    const std::string text = FormatReportText(input);
    const char* const kParts[] = {
        "7 runs read, 2 settings",
        "Setting NAME Setup GUID {EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9} OFFSET 1A DATA 05\n"
        "  PCs                   3\n"
        "  CHANGED               1\n"
        "  UNCHANGED             0\n",
        "  FAILED                0\n"
        "  NOT-POSSIBLE          1\n"
        "      OFFSET-OUTSIDE        1\n"
        "  BUSY                  1\n"
        "      LOCK-BUSY             1\n"
        "  PCs whose last run failed: 2\n"
        "    PC-A  BUSY LOCK-BUSY  exit 1618  check 2026-12-09T12:00:00Z\n"
        "    PC-C  NOT-POSSIBLE OFFSET-OUTSIDE  exit 255  set 2026-12-09T08:00:00Z\n",
        "OFFSET 1A DATA 06\n  PCs                   1\n  CHANGED               0\n",
        "  HOLDS                 1\n",
        "Lines that are no log entries: 2\n",
        "    \\\\srv\\logs\\PC-E.log\n",
    };
    for (const char* pszPart : kParts)
        EXPECT_NE(text.find(pszPart), std::string::npos) << pszPart << "\n--- in ---\n" << text;
    EXPECT_EQ(
        FormatReportCsv(input),
        "name,guid,offset,data,outcome,reason,pcs,computers\r\n"
        "Setup,{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9},1A,05,CHANGED,,1,pc-b\r\n"
        "Setup,{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9},1A,05,NOT-POSSIBLE,OFFSET-OUTSIDE,1,PC-C\r\n"
        "Setup,{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9},1A,05,BUSY,LOCK-BUSY,1,PC-A\r\n"
        "Setup,{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9},1A,06,HOLDS,,1,PC-D\r\n");

    ReportInput odd;
    odd.entries = {LogRun("t", "PC\r1", "FAILED", "", "2", "1A", "05", "a,\"b\"")};
    EXPECT_NE(FormatReportText(odd).find("    PC?1  FAILED (no reason)  exit 2"),
              std::string::npos);
    EXPECT_NE(FormatReportCsv(odd).find("Setup,\"a,\"\"b\"\"\",1A,05,FAILED,,1,\"PC\r1\"\r\n"),
              std::string::npos);
    EXPECT_NE(FormatReportText(ReportInput()).find("No runs found."), std::string::npos);
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
