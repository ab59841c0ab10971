// The fleet program's two record files share one line format: UTF-8 fields
// separated by ';', a field that holds ';', '"', CR or LF enclosed in '"' with
// every '"' doubled (as CSV does), each record ending in CR LF. Any byte value
// round-trips. Pure: builds natively for the sanitizers and the fuzzer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using RecordFields = std::vector<std::string>;

// One record as its line, CR LF included. A record of one empty field is
// written as "" (a bare empty line would be no record).
std::string FormatRecord(const RecordFields& fields);

// Splits a whole file into records, replacing *pRecords. Lines may end in CR
// LF or LF; an empty line is no record; the last line needs no line end.
// Outside quotes a CR before LF or at the very end of the text is part of
// the line end, any other CR is data (FormatRecord always quotes a CR, so
// this only matters for text from elsewhere). A field is quoted only when its
// first character is '"'; after its closing quote anything up to the next ';'
// or line end is added to it unquoted, and a '"' inside an unquoted field is
// data. A quoted field may hold line ends. Returns false when the text ends
// inside a quoted field (a record cut off): the records before it are kept in
// *pRecords, the cut one is not. Every record holds at least one field.
// ReadJournal and ReadLog below read the program's files; this reads any text.
bool ParseRecords(const std::string& text, std::vector<RecordFields>* pRecords);

// A record the file's reader could not take: cut by a power loss or a short
// write, glued to the next one, or no record of that file at all.
struct DamagedRecord
{
    size_t nLine = 0;    // its first physical line, 1-based
    RecordFields fields; // the fields of that line read whole: those followed by ';'
};

// How ReadJournal and ReadLog find the records of a file that may hold cut
// ones. Records are read from a line start, as ParseRecords reads them. A
// record that is no valid record of the file is damaged, and reading goes on
// at the next physical line (after the next LF) from the damaged record's
// first line: a cut line never swallows the lines after it. A record that
// runs over several lines (a quoted field holding a line end) is taken only
// when none of the lines it runs on to, read on its own from its start, is a
// valid record of the file: a cut quoted field that swallowed the next
// records is so told from a field that really holds a line break. A record
// that runs on past kMaxRecordLines physical lines, or to the end of the text
// inside quotes, is damaged; the cap keeps a hostile file's reading linear.
// Appending whole records after a line end never makes a record taken before
// them read otherwise, but for one case that errs towards damage: a record
// one of whose lines, read on its own, opens quotes that run to the end of
// the text (that line starts a field right at one of the record's quotes, as
// where a NAME holding a line break ends in ';' or in a line break) is
// damaged once what is appended closes those quotes into a valid record.
constexpr size_t kMaxRecordLines = 64;

// ---- The central log: one line per run, for people and for `report` ----

enum LogField
{
    kLogTime,     // UTC, ISO 8601: 2026-12-09T14:05:09Z
    kLogComputer, // the PC's name
    kLogRun,      // run id
    kLogCommand,  // check, set, undo
    kLogName,     // NAME, GUID as given
    kLogGuid,
    kLogOffset, // OFFSET, DATA as upper-case hexadecimal
    kLogData,
    kLogOld,      // the byte as read before, two digits; empty when not read
    kLogReadBack, // the byte read back after a write; empty when none
    kLogOutcome,  // one word: CHANGED, UNCHANGED, HOLDS, READY, NOT-POSSIBLE, ...
    kLogExitCode, // the run's exit code, decimal
    kLogReason,   // one word naming why (OFFSET-OUTSIDE, NOT-KEPT, ...); empty on success
    kLogMessages, // the run's messages joined by " / "
    kLogBackup,   // the backup dump of a writing run, else empty
    kLogModel,    // the PC's model and firmware version; empty when unknown
    kLogFirmware,
    kLogSize, // the variable's size in bytes, decimal; empty when not read
    kLogFieldCount,
    kLogLegacyFieldCount = kLogModel // logs written before the PC's identity
};

using LogEntry = std::array<std::string, kLogFieldCount>;

// The header line's field names, in order ("time", "computer", ...).
extern const char* const kLogFieldNames[kLogFieldCount];

std::string FormatLogHeader();
std::string FormatLogEntry(const LogEntry& entry);
// A record with exactly kLogFieldCount fields, or kLogLegacyFieldCount (as
// written before the PC's identity; its model, firmware and size are then
// empty), that is not a header line.
bool LogEntryFromRecord(const RecordFields& fields, LogEntry* pEntry);
// The header line, of either count of fields: their names in order (the
// first may start with a UTF-8 byte order mark). A log begun before the PC's
// identity keeps its shorter header when newer lines are appended to it.
bool IsLogHeader(const RecordFields& fields);

struct LogContents
{
    std::vector<LogEntry> entries; // in file order
    size_t nHeaders = 0;           // header lines, wherever they stand
    std::vector<DamagedRecord> damaged;
};

// A central log read as the note at kMaxRecordLines says: a valid entry is a
// record LogEntryFromRecord takes; header lines are skipped and counted, and
// a line that is one also ends a record that would run on over it.
LogContents ReadLog(const std::string& text);

// ---- The PC's journal: the source of truth for undo ----

enum class JournalKind
{
    Intent,  // written and flushed before a write: the old value is safe
    Outcome, // after the run: what it saw (also for runs that wrote nothing)
};

struct JournalRecord
{
    JournalKind kind = JournalKind::Outcome;
    std::string time;    // UTC, ISO 8601
    std::string run;     // run id
    std::string command; // "set" or "undo"
    std::string name;
    std::string guid;
    uint32_t dwOffset = 0;
    uint8_t bData = 0; // the command's DATA
    // Intent: the byte before the write, the value written, and for an undo
    // the run id of the change it takes back.
    bool blHaveOld = false;
    uint8_t bOld = 0;
    bool blHaveNew = false;
    uint8_t bNew = 0;
    std::string undoes;
    std::string backup; // the backup dump's path
    // Outcome: the outcome word, the value read back, exit code, reason word.
    std::string outcome;
    bool blHaveReadBack = false;
    uint8_t bReadBack = 0;
    int32_t nExitCode = 0;
    std::string reason;
    // Both kinds: what the run ran on. Empty, and blHaveSize false, when not
    // known (the variable was not read) and in records of earlier versions.
    std::string model;    // the PC's model
    std::string firmware; // its firmware version
    bool blHaveSize = false;
    uint32_t dwSize = 0; // the variable's size in bytes
};

// The journal record's fields in order.
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
    kJModel,
    kJFirmware,
    kJSize,
    kJChecksum,
    kJFieldCount,
    kJLegacyFieldCount = kJModel,               // journals written before the checksum
    kJChecksummedLegacyFieldCount = kJModel + 1 // and those after, before the PC's identity
};

// The journal record's fields, 20 of them, every record the same whatever
// its kind:
//   kind;time;run;command;name;guid;offset;data;old;new;undoes;backup;
//   outcome;read back;exit code;reason;model;firmware;size;checksum
// kind is INTENT or OUTCOME; offset upper-case hexadecimal without leading
// zeros; data two upper-case digits; old, new and read back two upper-case
// digits or empty when not present; exit code decimal, '-' for a negative
// one; size decimal without leading zeros, or empty. An outcome record
// repeats the run's command, NAME, GUID, OFFSET, DATA, old, new, undoes and
// backup (ChooseUndo matches it to its intent by them).
// checksum is the CRC-32 (that of zip and PNG) of all the fields before it as
// FormatRecord writes them, without the line end, in 8 upper-case
// hexadecimal digits: a record cut short or glued to the next one fails it.
// Records of earlier versions are still read: the first 16 fields alone
// (before the checksum), and those 16 with their checksum (before model,
// firmware and size).
std::string FormatJournalRecord(const JournalRecord& record);
// False for a record that is not a journal record of these formats (wrong
// field count, unknown kind, malformed offset, byte, exit code or size, a
// checksum that does not match). Read strictly: offset 1 to 8 hexadecimal
// digits, each byte exactly two, the checksum exactly eight, exit code
// without '+' or leading zeros, size at most 4294967295; hexadecimal digits
// may be of either case.
bool JournalRecordFromFields(const RecordFields& fields, JournalRecord* pRecord);

// CRC-32 (reflected polynomial 0xEDB88320, as zip, PNG and Ethernet use).
uint32_t Crc32(const std::string& text);

struct JournalContents
{
    std::vector<JournalRecord> records; // in file order
    std::vector<DamagedRecord> damaged;
};

// A journal read as the note at kMaxRecordLines says: a valid record is one
// JournalRecordFromFields takes, except that a record without a checksum
// after one with it is damaged (this program writes no such record: it is a
// checksummed record cut right before its checksum).
JournalContents ReadJournal(const std::string& text);
