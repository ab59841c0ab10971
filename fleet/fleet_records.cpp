#include "fleet_records.h"

#include "fleet_args.h"

#include <cstring>
#include <functional>

namespace
{

bool NeedsQuotes(const std::string& field)
{
    return field.find_first_of(";\"\r\n") != std::string::npos;
}

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

// Empty: not known; else decimal, no leading zeros, within uint32_t.
bool ParseOptionalSize(const std::string& text, bool* pblHave, uint32_t* pdwSize)
{
    *pblHave = !text.empty();
    *pdwSize = 0;
    return text.empty() || text == "0" || ParseDecimal(text, UINT32_MAX, pdwSize);
}

// One record read from a line start.
struct RawRecord
{
    RecordFields fields;
    size_t nFirstLineWhole = 0; // fields[0, n) end in ';' on the record's first line
    size_t nEnd = 0;            // just past its line end; not set for a cut one
    bool blCut = false;         // the text ends inside its quotes, or it runs on past the line cap
    std::vector<size_t> continuations; // the starts of the lines it runs on to
};

// Reads the record that starts at nAt, a line start, running on over at most
// nMaxLines physical lines; its fields only when blFields (finding where a
// record ends is cheaper without). False for an empty line (no record);
// *pRecord's nEnd is past the line either way. Outside quotes, LF ends a
// record, and so does CR followed by LF or by the end of the text; any other
// CR is data. Inside quotes every byte is data. A quoted field goes on,
// unquoted, after its closing quote when anything but ';' or a line end
// follows it (a stray quote is kept as data too).
bool ReadRecordAt(const std::string& text, size_t nAt, size_t nMaxLines, RawRecord* pRecord,
                  bool blFields = true)
{
    RawRecord& record = *pRecord;
    record.fields.clear(); // keeping their memory for the next record
    record.continuations.clear();
    record.nFirstLineWhole = 0;
    record.nEnd = 0;
    record.blCut = false;
    std::string field;
    bool blInRecord = false;  // the line has something: it is a record
    bool blFieldStart = true; // nothing of the current field read yet
    size_t i = nAt;
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
                {
                    record.blCut = true;
                    return true;
                }
                const char chQuoted = text[i];
                if (chQuoted == '"')
                {
                    if (i + 1 < cch && text[i + 1] == '"')
                    {
                        if (blFields)
                            field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (blFields)
                    field += chQuoted;
                ++i;
                if (chQuoted == '\n' && i < cch)
                {
                    if (record.continuations.size() + 1 >= nMaxLines)
                    {
                        record.blCut = true;
                        return true;
                    }
                    record.continuations.push_back(i);
                }
            }
            continue;
        }
        const bool blLineEnd = ch == '\n' || (ch == '\r' && (i + 1 == cch || text[i + 1] == '\n'));
        if (blLineEnd)
        {
            record.nEnd = i + ((ch == '\r' && i + 1 < cch) ? 2 : 1);
            if (!blInRecord)
                return false;
            if (blFields)
                record.fields.push_back(field);
            return true;
        }
        blInRecord = true;
        blFieldStart = ch == ';';
        if (ch == ';' && blFields)
        {
            record.fields.push_back(field);
            field.clear();
            if (record.continuations.empty())
                record.nFirstLineWhole = record.fields.size();
        }
        else if (blFields)
            field += ch;
        ++i;
    }
    record.nEnd = cch;
    if (!blInRecord)
        return false;
    if (blFields)
        record.fields.push_back(field);
    return true;
}

enum class RecordSort
{
    None,   // no valid record of the file
    Record, // one to take
    Header, // one to skip
};

// Reads a file that may hold cut records, as fleet_records.h says at
// kMaxRecordLines. sort judges a record's fields; onRecord receives each
// record taken, in file order.
void ReadResyncing(const std::string& text,
                   const std::function<RecordSort(const RecordFields&)>& sort,
                   const std::function<void(const RecordFields&)>& onRecord, size_t* pnHeaders,
                   std::vector<DamagedRecord>* pDamaged)
{
    RawRecord record;
    RawRecord alone;
    size_t nLine = 1;
    size_t nAt = 0;
    while (nAt < text.size())
    {
        const size_t nLf = text.find('\n', nAt);
        const size_t nNextLine = nLf == std::string::npos ? text.size() : nLf + 1;
        // Where it ends first, then its fields: in a hostile file most
        // records are cut, and are damaged whatever they hold.
        if (!ReadRecordAt(text, nAt, kMaxRecordLines, &record, false))
        {
            nAt = nNextLine;
            ++nLine;
            continue;
        }
        RecordSort kind = RecordSort::None;
        if (!record.blCut)
        {
            ReadRecordAt(text, nAt, kMaxRecordLines, &record);
            kind = sort(record.fields);
        }
        // A line it runs on to that is a record of its own: this one was cut
        // inside quotes, and swallowed it.
        for (size_t i = 0; i < record.continuations.size() && kind != RecordSort::None; ++i)
            if (ReadRecordAt(text, record.continuations[i], kMaxRecordLines, &alone, false) &&
                !alone.blCut &&
                (ReadRecordAt(text, record.continuations[i], kMaxRecordLines, &alone),
                 sort(alone.fields) != RecordSort::None))
                kind = RecordSort::None;
        if (kind == RecordSort::None)
        {
            if (record.blCut) // its first line's fields
                ReadRecordAt(text, nAt, 1, &record);
            record.fields.resize(record.nFirstLineWhole);
            pDamaged->push_back({nLine, std::move(record.fields)});
            nAt = nNextLine;
            ++nLine;
            continue;
        }
        if (kind == RecordSort::Header)
            ++*pnHeaders;
        else
            onRecord(record.fields);
        nLine += 1 + record.continuations.size();
        nAt = record.nEnd;
    }
}

// What a journal record's checksum covers: every field before its last as
// written, without the line end.
std::string JournalLine(const RecordFields& fields)
{
    std::string line = FormatRecord(RecordFields(fields.begin(), fields.end() - 1));
    line.resize(line.size() - 2);
    return line;
}

// The checksum of a record whose last field is to hold it.
std::string JournalChecksum(const RecordFields& fields)
{
    const uint32_t dwCrc = Crc32(JournalLine(fields));
    std::string hex;
    for (int nShift = 24; nShift >= 0; nShift -= 8)
        hex += HexByte(static_cast<uint8_t>(dwCrc >> nShift));
    return hex;
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

bool ParseRecords(const std::string& text, std::vector<RecordFields>* pRecords)
{
    pRecords->clear();
    RawRecord record;
    for (size_t nAt = 0; nAt < text.size(); nAt = record.nEnd)
    {
        if (!ReadRecordAt(text, nAt, SIZE_MAX, &record))
            continue;
        if (record.blCut)
            return false; // cut inside the quotes: this record is lost
        pRecords->push_back(std::move(record.fields));
    }
    return true;
}

const char* const kLogFieldNames[kLogFieldCount] = {
    "time",   "computer", "run",    "command",   "name",     "guid",
    "offset", "data",     "old",    "read back", "outcome",  "exit code",
    "reason", "messages", "backup", "model",     "firmware", "size"};

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
    if (fields.size() != kLogFieldCount && fields.size() != kLogLegacyFieldCount)
        return false;
    for (size_t i = 0; i < fields.size(); ++i)
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
    if ((fields.size() != kLogFieldCount && fields.size() != kLogLegacyFieldCount) ||
        IsLogHeader(fields))
        return false;
    for (size_t i = 0; i < kLogFieldCount; ++i)
        (*pEntry)[i] = i < fields.size() ? fields[i] : std::string();
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
    fields[kJModel] = record.model;
    fields[kJFirmware] = record.firmware;
    fields[kJSize] = record.blHaveSize ? std::to_string(record.dwSize) : std::string();
    fields[kJChecksum] = JournalChecksum(fields);
    return FormatRecord(fields);
}

bool JournalRecordFromFields(const RecordFields& fields, JournalRecord* pRecord)
{
    const size_t cFields = fields.size();
    if (cFields != kJFieldCount && cFields != kJChecksummedLegacyFieldCount &&
        cFields != kJLegacyFieldCount)
        return false;
    uint32_t dwChecksum = 0;
    if (cFields != kJLegacyFieldCount &&
        (fields.back().size() != 8 || !ParseHexField(fields.back(), 8, &dwChecksum) ||
         dwChecksum != Crc32(JournalLine(fields))))
        return false;
    JournalRecord record;
    if (cFields == kJFieldCount)
    {
        if (!ParseOptionalSize(fields[kJSize], &record.blHaveSize, &record.dwSize))
            return false;
        record.model = fields[kJModel];
        record.firmware = fields[kJFirmware];
    }
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

uint32_t Crc32(const std::string& text)
{
    uint32_t dwCrc = 0xFFFFFFFF;
    for (char ch : text)
    {
        dwCrc ^= static_cast<uint8_t>(ch);
        for (int nBit = 0; nBit < 8; ++nBit)
            dwCrc = (dwCrc >> 1) ^ (0xEDB88320u & (0u - (dwCrc & 1u)));
    }
    return ~dwCrc;
}

JournalContents ReadJournal(const std::string& text)
{
    JournalContents contents;
    size_t nHeaders = 0;
    bool blChecksummed = false; // a record with a checksum has been taken
    JournalRecord record;
    ReadResyncing(
        text,
        [&](const RecordFields& fields)
        {
            const bool blTaken = JournalRecordFromFields(fields, &record) &&
                                 !(blChecksummed && fields.size() == kJLegacyFieldCount);
            return blTaken ? RecordSort::Record : RecordSort::None;
        },
        [&](const RecordFields& fields)
        {
            JournalRecordFromFields(fields, &record);
            blChecksummed = blChecksummed || fields.size() != kJLegacyFieldCount;
            contents.records.push_back(record);
        },
        &nHeaders, &contents.damaged);
    return contents;
}

LogContents ReadLog(const std::string& text)
{
    LogContents contents;
    LogEntry entry;
    ReadResyncing(
        text,
        [&](const RecordFields& fields)
        {
            if (LogEntryFromRecord(fields, &entry))
                return RecordSort::Record;
            return IsLogHeader(fields) ? RecordSort::Header : RecordSort::None;
        },
        [&](const RecordFields& fields)
        {
            LogEntryFromRecord(fields, &entry);
            contents.entries.push_back(entry);
        },
        &contents.nHeaders, &contents.damaged);
    return contents;
}
