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

// One record as its line, CR LF included.
std::string FormatRecord(const RecordFields& fields);

// Splits a whole file into records. Lines may end in CR LF or LF; an empty
// line is no record. A quoted field may hold line ends. Returns false when the
// text ends inside a quoted field (a record cut off): the records before it
// are kept in *pRecords, the cut one is not.
bool ParseRecords(const std::string& text, std::vector<RecordFields>* pRecords);

// ---- The central log: one line per run, for people and for `report` ----

enum LogField
{
    kLogTime,      // UTC, ISO 8601: 2026-12-09T14:05:09Z
    kLogComputer,  // the PC's name
    kLogRun,       // run id
    kLogCommand,   // check, set, undo
    kLogName,      // NAME, GUID as given
    kLogGuid,
    kLogOffset,    // OFFSET, DATA as upper-case hexadecimal
    kLogData,
    kLogOld,       // the byte as read before, two digits; empty when not read
    kLogReadBack,  // the byte read back after a write; empty when none
    kLogOutcome,   // one word: CHANGED, UNCHANGED, HOLDS, READY, NOT-POSSIBLE, ...
    kLogExitCode,  // the run's exit code, decimal
    kLogReason,    // one word naming why (OFFSET-OUTSIDE, NOT-KEPT, ...); empty on success
    kLogMessages,  // the run's messages joined by " / "
    kLogBackup,    // the backup dump of a writing run, else empty
    kLogFieldCount
};

using LogEntry = std::array<std::string, kLogFieldCount>;

// The header line's field names, in order ("time", "computer", ...).
extern const char* const kLogFieldNames[kLogFieldCount];

std::string FormatLogHeader();
std::string FormatLogEntry(const LogEntry& entry);
// A record with exactly kLogFieldCount fields that is not the header line.
bool LogEntryFromRecord(const RecordFields& fields, LogEntry* pEntry);
bool IsLogHeader(const RecordFields& fields);

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
    uint8_t bData = 0;   // the command's DATA
    // Intent: the byte before the write, the value written, and for an undo
    // the run id of the change it takes back.
    bool blHaveOld = false;
    uint8_t bOld = 0;
    bool blHaveNew = false;
    uint8_t bNew = 0;
    std::string undoes;
    std::string backup;  // the backup dump's path
    // Outcome: the outcome word, the value read back, exit code, reason word.
    std::string outcome;
    bool blHaveReadBack = false;
    uint8_t bReadBack = 0;
    int32_t nExitCode = 0;
    std::string reason;
};

std::string FormatJournalRecord(const JournalRecord& record);
// False for a record that is not a journal record of this format (wrong field
// count, unknown kind, malformed offset, byte or exit code).
bool JournalRecordFromFields(const RecordFields& fields, JournalRecord* pRecord);
