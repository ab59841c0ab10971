// The fleet program's record files read from any bytes: what ParseRecords
// reads, written again with FormatRecord, reads back as the same fields; a
// log entry and a journal record made from a record write back as it. The
// journal and log readers take every record they keep as one that writes
// back whole (but for a field holding a line that is a record of its own:
// that reads as damaged), name damaged lines in order, and take a whole
// record appended after a line end (as the writer appends) as itself, never
// taking anything new before it; the undo choice made from them holds to what
// it names. The input's first two lines also drive the guards: a pattern
// matches as a plain reference matcher says, and the guard line of a PC with
// such a model and firmware version, split as the C runtime splits a command
// line, is taken after a set and holds on that PC.
#include "fleet/fleet_args.h"
#include "fleet/fleet_guard.h"
#include "fleet/fleet_records.h"
#include "fleet/fleet_undo.h"

#include "fuzz_common.h"

#include <algorithm>
#include <string>
#include <vector>

namespace
{

// The file as the writer leaves it before it appends: ending in a line end.
std::string WithLineEnd(const std::string& text)
{
    return text.empty() || text.back() == '\n' ? text : text + "\r\n";
}

bool SameChoice(const UndoChoice& a, const UndoChoice& b)
{
    return a.kind == b.kind && a.run == b.run && a.bOld == b.bOld &&
           a.blInterrupted == b.blInterrupted && a.undoRun == b.undoRun &&
           a.undoTime == b.undoTime && a.nLine == b.nLine && a.damage == b.damage;
}

// What a whole record appended after a line end leaves of the records before
// it: all of them as they were, and their damaged ones. One exception: a
// record running over lines, one of which read on its own opens a quoted
// field that runs to the end of the file, turns damaged when the appended
// text closes that field into a record of its own (never into one taken).
void CheckKeptBefore(const std::vector<std::string>& before, const std::vector<std::string>& after,
                     const std::vector<DamagedRecord>& damagedBefore,
                     const std::vector<DamagedRecord>& damagedAfter)
{
    size_t j = 0;
    for (size_t i = 0; i < before.size(); ++i)
    {
        if (j < after.size() && after[j] == before[i])
            ++j;
        else
            fuzz::Check(before[i].find('\n') + 1 != before[i].size()); // over lines
    }
    fuzz::Check(j == after.size());
    size_t k = 0;
    for (const DamagedRecord& damaged : damagedBefore)
    {
        while (k < damagedAfter.size() && damagedAfter[k].nLine < damaged.nLine)
            ++k;
        fuzz::Check(k < damagedAfter.size() && damagedAfter[k].nLine == damaged.nLine &&
                    damagedAfter[k].fields == damaged.fields);
    }
}

void CheckDamagedLines(const std::string& text, const std::vector<DamagedRecord>& damaged)
{
    size_t nLines = 1;
    for (char ch : text)
        nLines += ch == '\n' ? 1 : 0;
    size_t nLast = 0;
    for (const DamagedRecord& record : damaged)
    {
        fuzz::Check(record.nLine > nLast && record.nLine <= nLines);
        nLast = record.nLine;
    }
}

bool HoldsLineEnd(const RecordFields& fields)
{
    for (const std::string& field : fields)
        if (field.find('\n') != std::string::npos)
            return true;
    return false;
}

RecordFields ReadRecord(const std::string& line)
{
    std::vector<RecordFields> records;
    fuzz::Check(ParseRecords(line, &records) && records.size() == 1);
    return records[0];
}

// A run id the text does not hold.
std::string NewRun(const std::string& text)
{
    std::string run = "z";
    while (text.find(run) != std::string::npos)
        run += 'z';
    return run;
}

void CheckJournal(const std::string& text)
{
    const JournalContents journal = ReadJournal(text);
    CheckDamagedLines(text, journal.damaged);
    for (const JournalRecord& record : journal.records)
    {
        const std::string line = FormatJournalRecord(record);
        const JournalContents alone = ReadJournal(line);
        if (alone.damaged.empty() && alone.records.size() == 1 &&
            FormatJournalRecord(alone.records[0]) == line)
            continue;
        // Only a field holding a line that is a record of its own is read
        // otherwise, and as damaged, never as another whole record.
        fuzz::Check(!alone.damaged.empty() && HoldsLineEnd(ReadRecord(line)));
    }

    // Appended whole after a line end, a record that reads alone as itself
    // (one whose lines are no records of their own) is read as itself and
    // leaves what comes before it as it was.
    const std::string before = WithLineEnd(text);
    const JournalContents whole = ReadJournal(before);
    JournalRecord added = journal.records.empty() ? JournalRecord() : journal.records[0];
    added.run = NewRun(text);
    const std::string addedLine = FormatJournalRecord(added);
    const JournalContents addedAlone = ReadJournal(addedLine);
    if (addedAlone.records.size() == 1 && FormatJournalRecord(addedAlone.records[0]) == addedLine)
    {
        const JournalContents after = ReadJournal(before + addedLine);
        fuzz::Check(!after.records.empty() &&
                    FormatJournalRecord(after.records.back()) == addedLine);
        std::vector<std::string> lines, linesAfter;
        for (const JournalRecord& record : whole.records)
            lines.push_back(FormatJournalRecord(record));
        for (size_t i = 0; i + 1 < after.records.size(); ++i)
            linesAfter.push_back(FormatJournalRecord(after.records[i]));
        CheckKeptBefore(lines, linesAfter, whole.damaged, after.damaged);
    }

    // The undo choice for the byte of the first record, or of the damaged
    // record that names one.
    JournalRecord byte;
    if (!whole.records.empty())
        byte = whole.records[0];
    else if (!whole.damaged.empty() && whole.damaged[0].fields.size() > kJOffset)
    {
        byte.name = whole.damaged[0].fields[kJName];
        byte.guid = whole.damaged[0].fields[kJGuid];
    }
    const UndoChoice choice = ChooseUndo(whole, byte.name, byte.guid, byte.dwOffset, byte.bData);
    InterruptedRuns(whole);
    if (choice.kind == UndoChoice::Kind::Change || choice.kind == UndoChoice::Kind::TakenBack)
    {
        // A set of this setting's DATA over another value.
        bool blFound = false;
        for (const JournalRecord& record : whole.records)
            blFound = blFound || (record.kind == JournalKind::Intent && record.run == choice.run &&
                                  record.bData == byte.bData && record.bNew == byte.bData &&
                                  record.bOld == choice.bOld && record.bOld != byte.bData);
        fuzz::Check(blFound);
    }
    if (choice.kind == UndoChoice::Kind::TakenBack)
    {
        bool blFound = false;
        for (const JournalRecord& record : whole.records)
            blFound = blFound || (record.run == choice.undoRun && record.undoes == choice.run &&
                                  record.time == choice.undoTime);
        fuzz::Check(blFound);
    }
    fuzz::Check(choice.damage.empty() == (choice.kind != UndoChoice::Kind::Damaged));
    if (choice.kind == UndoChoice::Kind::Damaged && choice.nLine != 0)
    {
        bool blFound = false;
        for (const DamagedRecord& record : whole.damaged)
            blFound = blFound || record.nLine == choice.nLine;
        fuzz::Check(blFound);
    }
    // A whole run of another NAME changes nothing of this byte's choice.
    JournalRecord other = byte;
    other.name += "x";
    other.run = NewRun(text);
    other.kind = JournalKind::Intent;
    std::string otherRun = FormatJournalRecord(other);
    other.kind = JournalKind::Outcome;
    other.outcome = "CHANGED";
    otherRun += FormatJournalRecord(other);
    fuzz::Check(SameChoice(
        ChooseUndo(ReadJournal(before + otherRun), byte.name, byte.guid, byte.dwOffset, byte.bData),
        choice));
}

void CheckLog(const std::string& text)
{
    const LogContents log = ReadLog(text);
    CheckDamagedLines(text, log.damaged);
    for (const LogEntry& entry : log.entries)
    {
        const LogContents alone = ReadLog(FormatLogEntry(entry));
        if (alone.damaged.empty() && alone.entries.size() == 1 && alone.entries[0] == entry)
            continue;
        fuzz::Check(!alone.damaged.empty() &&
                    HoldsLineEnd(RecordFields(entry.begin(), entry.end())));
    }
    const std::string before = WithLineEnd(text);
    const LogContents whole = ReadLog(before);
    LogEntry added = log.entries.empty() ? LogEntry() : log.entries[0];
    added[kLogRun] = NewRun(text);
    const std::string addedLine = FormatLogEntry(added);
    const LogContents addedAlone = ReadLog(addedLine);
    if (addedAlone.entries.size() == 1 && addedAlone.entries[0] == added)
    {
        const LogContents after = ReadLog(before + addedLine);
        fuzz::Check(!after.entries.empty() && after.entries.back() == added &&
                    after.nHeaders <= whole.nHeaders);
        std::vector<std::string> lines, linesAfter;
        for (const LogEntry& entry : whole.entries)
            lines.push_back(FormatLogEntry(entry));
        for (size_t i = 0; i + 1 < after.entries.size(); ++i)
            linesAfter.push_back(FormatLogEntry(after.entries[i]));
        CheckKeptBefore(lines, linesAfter, whole.damaged, after.damaged);
    }
}

// '*' matches any run, ASCII letters fold: by the table of which prefixes of
// the pattern match which prefixes of the value.
bool ReferenceMatch(const std::string& pattern, const std::string& value)
{
    auto fold = [](char ch) { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch; };
    std::vector<bool> row(value.size() + 1, false);
    row[0] = true;
    for (char chPattern : pattern)
    {
        std::vector<bool> next(value.size() + 1, false);
        next[0] = chPattern == '*' && row[0];
        for (size_t j = 1; j <= value.size(); ++j)
            next[j] = chPattern == '*' ? (row[j] || next[j - 1])
                                       : (row[j - 1] && fold(chPattern) == fold(value[j - 1]));
        row.swap(next);
    }
    return row[value.size()];
}

void CheckGuards(const std::string& text)
{
    const size_t nFirstEnd = std::min(text.find('\n'), text.size());
    const std::string first = text.substr(0, std::min<size_t>(nFirstEnd, 200));
    const std::string rest = nFirstEnd < text.size() ? text.substr(nFirstEnd + 1) : std::string();
    const std::string second = rest.substr(0, std::min<size_t>(rest.find('\n'), 200));
    fuzz::Check(MatchesPattern(first, second) == ReferenceMatch(first, second));
    fuzz::Check(MatchesPattern(second, second));

    PcFacts pc;
    pc.model = second;
    pc.firmware = first;
    pc.blHaveSize = pc.blHaveByte = true;
    pc.dwSize = static_cast<uint32_t>(text.size());
    pc.bByte = static_cast<uint8_t>(text.empty() ? 0 : text[0]);
    const std::string line = FormatGuardLine(pc, 0x05);
    // Quotes open and close (no quote inside a value, no backslash before one), so
    // splitting at spaces outside them is how the C runtime splits it.
    std::vector<std::string> args = {"set", "Setup", "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}", "1A",
                                     "05"};
    std::string arg;
    bool blQuoted = false;
    for (size_t i = 0; i <= line.size(); ++i)
    {
        const char ch = i < line.size() ? line[i] : ' ';
        fuzz::Check(ch >= 0x20 && ch < 0x7F && ch != '%' && ch != '!' && ch != '$' && ch != '`');
        if (ch == '"')
        {
            fuzz::Check(i == 0 || line[i - 1] != '\\');
            blQuoted = !blQuoted;
        }
        else if (ch == ' ' && !blQuoted)
        {
            args.push_back(arg);
            arg.clear();
        }
        else
            arg += ch;
    }
    fuzz::Check(!blQuoted);
    std::vector<const char*> argv = {"ArdentisFleet64.exe"};
    for (const std::string& each : args)
        argv.push_back(each.c_str());
    FleetRequest request;
    std::string error;
    fuzz::Check(ParseFleetArgs(static_cast<int>(argv.size()), argv.data(), &request, &error));
    fuzz::Check(request.blHaveModel == !pc.model.empty() &&
                request.blHaveFirmware == !pc.firmware.empty());
    fuzz::Check(JudgeGuards(request, pc).failed == GuardKind::None);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    const std::string text(reinterpret_cast<const char*>(pbData), cbData);
    std::vector<RecordFields> records;
    const bool blWhole = ParseRecords(text, &records);

    std::string again;
    for (const RecordFields& fields : records)
    {
        fuzz::Check(!fields.empty());
        again += FormatRecord(fields);

        LogEntry entry;
        if (LogEntryFromRecord(fields, &entry))
        {
            // A line written before the PC's identity has its fields empty.
            RecordFields whole = fields;
            whole.resize(kLogFieldCount);
            fuzz::Check(FormatLogEntry(entry) == FormatRecord(whole));
        }
        else
            fuzz::Check(
                (fields.size() != kLogFieldCount && fields.size() != kLogLegacyFieldCount) ||
                IsLogHeader(fields));

        JournalRecord record;
        if (JournalRecordFromFields(fields, &record))
        {
            // Written again it reads back as the same record.
            std::vector<RecordFields> reread;
            fuzz::Check(ParseRecords(FormatJournalRecord(record), &reread) && reread.size() == 1);
            JournalRecord second;
            fuzz::Check(JournalRecordFromFields(reread[0], &second));
            fuzz::Check(FormatJournalRecord(second) == FormatJournalRecord(record));
        }
    }
    std::vector<RecordFields> reread;
    fuzz::Check(ParseRecords(again, &reread));
    fuzz::Check(reread == records);
    // A text cut inside quotes keeps the records before the cut: the text
    // with a closing quote and line end added reads at least as many.
    if (!blWhole)
    {
        std::vector<RecordFields> closed;
        fuzz::Check(ParseRecords(text + "\"\r\n", &closed) && closed.size() == records.size() + 1);
    }

    CheckJournal(text);
    CheckLog(text);
    CheckGuards(text);
    return 0;
}
