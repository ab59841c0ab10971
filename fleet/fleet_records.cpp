#include "fleet_records.h"

#include "fleet_args.h"

#include <cstring>

namespace
{

bool NeedsQuotes(const std::string& field)
{
    return field.find_first_of(";\"\r\n") != std::string::npos;
}

enum JournalField
{
    kJKind,
    kJTime,
    kJRun,
    kJCommand,
    kJName,
    kJGuid,
    kJOffset,
    kJData,
    kJOld,
    kJNew,
    kJUndoes,
    kJBackup,
    kJOutcome,
    kJReadBack,
    kJExitCode,
    kJReason,
    kJFieldCount
};

constexpr const char* kKindIntent = "INTENT";
constexpr const char* kKindOutcome = "OUTCOME";

std::string OptionalByte(bool blHave, uint8_t b)
{
    return blHave ? HexByte(b) : std::string();
}

// Empty: not present; else exactly two hexadecimal digits.
bool ParseOptionalByte(const std::string& text, bool* pblHave, uint8_t* pb)
{
    *pblHave = !text.empty();
    *pb = 0;
    if (text.empty())
        return true;
    uint32_t dwValue = 0;
    if (text.size() != 2 || !ParseHexField(text, 2, &dwValue))
        return false;
    *pb = static_cast<uint8_t>(dwValue);
    return true;
}

// Decimal, optional '-', no leading zeros, within int32_t.
bool ParseExitCode(const std::string& text, int32_t* pnValue)
{
    const bool blNegative = !text.empty() && text[0] == '-';
    const std::string digits = blNegative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 10 || (digits[0] == '0' && digits.size() > 1) ||
        (blNegative && digits == "0"))
        return false;
    int64_t qnValue = 0;
    for (char ch : digits)
    {
        if (ch < '0' || ch > '9')
            return false;
        qnValue = qnValue * 10 + (ch - '0');
    }
    if (blNegative)
        qnValue = -qnValue;
    if (qnValue < INT32_MIN || qnValue > INT32_MAX)
        return false;
    *pnValue = static_cast<int32_t>(qnValue);
    return true;
}

} // namespace

std::string FormatRecord(const RecordFields& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i)
    {
        if (i > 0)
            line += ';';
        const std::string& field = fields[i];
        // A record of one empty field is quoted: as a bare empty line it
        // would read back as no record at all.
        if (!NeedsQuotes(field) && !(fields.size() == 1 && field.empty()))
        {
            line += field;
            continue;
        }
        line += '"';
        for (char ch : field)
        {
            if (ch == '"')
                line += '"';
            line += ch;
        }
        line += '"';
    }
    return line + "\r\n";
}

// Outside quotes, LF ends a record, and so does CR followed by LF or by the
// end of the text; any other CR is data. Inside quotes every byte is data. A
// quoted field goes on, unquoted, after its closing quote when anything but
// ';' or a line end follows it (a stray quote is kept as data too).
bool ParseRecords(const std::string& text, std::vector<RecordFields>* pRecords)
{
    pRecords->clear();
    RecordFields record;
    std::string field;
    bool blInRecord = false;  // the current line has something: it is a record
    bool blFieldStart = true; // nothing of the current field read yet
    size_t i = 0;
    const size_t cch = text.size();
    while (i < cch)
    {
        const char ch = text[i];
        if (ch == '"' && blFieldStart)
        {
            // A quoted field: up to the quote that is not doubled.
            blInRecord = true;
            blFieldStart = false;
            ++i;
            for (;;)
            {
                if (i >= cch)
                    return false; // cut inside the quotes: this record is lost
                if (text[i] == '"')
                {
                    if (i + 1 < cch && text[i + 1] == '"')
                    {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
            continue;
        }
        const bool blLineEnd = ch == '\n' || (ch == '\r' && (i + 1 == cch || text[i + 1] == '\n'));
        if (blLineEnd)
        {
            i += (ch == '\r' && i + 1 < cch) ? 2 : 1;
            if (blInRecord)
            {
                record.push_back(field);
                pRecords->push_back(record);
            }
            record.clear();
            field.clear();
            blInRecord = false;
            blFieldStart = true;
            continue;
        }
        blInRecord = true;
        blFieldStart = ch == ';';
        if (ch == ';')
        {
            record.push_back(field);
            field.clear();
        }
        else
            field += ch;
        ++i;
    }
    if (blInRecord)
    {
        record.push_back(field);
        pRecords->push_back(record);
    }
    return true;
}

const char* const kLogFieldNames[kLogFieldCount] = {
    "time", "computer",  "run",     "command",   "name",   "guid",     "offset", "data",
    "old",  "read back", "outcome", "exit code", "reason", "messages", "backup"};

std::string FormatLogHeader()
{
    return FormatRecord(RecordFields(kLogFieldNames, kLogFieldNames + kLogFieldCount));
}

std::string FormatLogEntry(const LogEntry& entry)
{
    return FormatRecord(RecordFields(entry.begin(), entry.end()));
}

bool IsLogHeader(const RecordFields& fields)
{
    if (fields.size() != kLogFieldCount)
        return false;
    for (size_t i = 0; i < kLogFieldCount; ++i)
    {
        std::string field = fields[i];
        // A file saved by an editor may start with a UTF-8 byte order mark.
        if (i == 0 && field.compare(0, 3, "\xEF\xBB\xBF") == 0)
            field.erase(0, 3);
        if (field != kLogFieldNames[i])
            return false;
    }
    return true;
}

bool LogEntryFromRecord(const RecordFields& fields, LogEntry* pEntry)
{
    if (fields.size() != kLogFieldCount || IsLogHeader(fields))
        return false;
    for (size_t i = 0; i < kLogFieldCount; ++i)
        (*pEntry)[i] = fields[i];
    return true;
}

std::string FormatJournalRecord(const JournalRecord& record)
{
    RecordFields fields(kJFieldCount);
    fields[kJKind] = record.kind == JournalKind::Intent ? kKindIntent : kKindOutcome;
    fields[kJTime] = record.time;
    fields[kJRun] = record.run;
    fields[kJCommand] = record.command;
    fields[kJName] = record.name;
    fields[kJGuid] = record.guid;
    fields[kJOffset] = HexOffset(record.dwOffset);
    fields[kJData] = HexByte(record.bData);
    fields[kJOld] = OptionalByte(record.blHaveOld, record.bOld);
    fields[kJNew] = OptionalByte(record.blHaveNew, record.bNew);
    fields[kJUndoes] = record.undoes;
    fields[kJBackup] = record.backup;
    fields[kJOutcome] = record.outcome;
    fields[kJReadBack] = OptionalByte(record.blHaveReadBack, record.bReadBack);
    fields[kJExitCode] = std::to_string(record.nExitCode);
    fields[kJReason] = record.reason;
    return FormatRecord(fields);
}

bool JournalRecordFromFields(const RecordFields& fields, JournalRecord* pRecord)
{
    if (fields.size() != kJFieldCount)
        return false;
    JournalRecord record;
    if (fields[kJKind] == kKindIntent)
        record.kind = JournalKind::Intent;
    else if (fields[kJKind] == kKindOutcome)
        record.kind = JournalKind::Outcome;
    else
        return false;
    uint32_t dwData = 0;
    if (!ParseHexField(fields[kJOffset], 8, &record.dwOffset) || fields[kJData].size() != 2 ||
        !ParseHexField(fields[kJData], 2, &dwData) ||
        !ParseOptionalByte(fields[kJOld], &record.blHaveOld, &record.bOld) ||
        !ParseOptionalByte(fields[kJNew], &record.blHaveNew, &record.bNew) ||
        !ParseOptionalByte(fields[kJReadBack], &record.blHaveReadBack, &record.bReadBack) ||
        !ParseExitCode(fields[kJExitCode], &record.nExitCode))
        return false;
    record.bData = static_cast<uint8_t>(dwData);
    record.time = fields[kJTime];
    record.run = fields[kJRun];
    record.command = fields[kJCommand];
    record.name = fields[kJName];
    record.guid = fields[kJGuid];
    record.undoes = fields[kJUndoes];
    record.backup = fields[kJBackup];
    record.outcome = fields[kJOutcome];
    record.reason = fields[kJReason];
    *pRecord = record;
    return true;
}
