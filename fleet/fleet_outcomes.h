// The words a run's outcome and reason are recorded and reported by: stable,
// one word each, so that a log filter, a report or changed_when can rely on
// them. Each table below is also the administrators' manual: README.txt shows
// its rows in this order, in these words (release/readme_facts.py reads them
// when the build makes README.txt, and fails the build on a row it cannot
// read). So a row is one line, {"WORD", "...", "..."}, of plain literals.
#pragma once

#include <cstddef>

struct FleetOutcomeWord
{
    const char* pszWord;    // as the summary line, the logs and the report show it
    const char* pszExit;    // the exit codes a run with this outcome ends with
    const char* pszMeaning; // for the manual
};

struct FleetReasonWord
{
    const char* pszWord;    // as REASON= and the logs show it
    const char* pszCode;    // what follows the word in a record ("-<code>"), or ""
    const char* pszMeaning; // for the manual
};

// clang-format off
inline constexpr FleetOutcomeWord kFleetOutcomes[] = {
    {"HOLDS", "0", "check: the byte holds DATA"},
    {"READY", "1", "check: the byte would be changed"},
    {"NOT-POSSIBLE", "255", "check: the change cannot be made here"},
    {"CHANGED", "0, N or 255", "set: written and read back (N: --reboot-code N; 255: its log line could not be written after, NOT-RECORDED)"},
    {"UNDONE", "0, N or 255", "undo: the old value written and read back (N and 255 as for CHANGED)"},
    {"UNCHANGED", "0 or 255", "set, undo: nothing to write (255: with --log, its line could not be written, LOG-UNWRITABLE)"},
    {"FAILED", "255", "set, undo: see the reason"},
    {"BUSY", "255 or N", "another Ardentis program held the lock for the whole wait of 10 s (N: --busy-code N, but 255 when a set or undo's log line could not be written); nothing read"},
    {"REFUSED", "255", "the command line was refused; nothing read"},
    {"INTERRUPTED", "255", "in the journal only: a later run found this run's intent without its outcome (the run was killed or the power failed)"},
};

inline constexpr FleetReasonWord kFleetReasons[] = {
    {"LEGACY-BIOS", "", "Windows was installed with legacy BIOS: no firmware variables"},
    {"NO-RIGHT", "", "read error 1314: run elevated or as SYSTEM"},
    {"VARIABLE-MISSING", "", "read error 203: the variable does not exist"},
    {"READ-ERROR", "-<code>", "the variable cannot be read, Windows error <code>"},
    {"NO-MEMORY", "", "no memory for the 4 MiB read"},
    {"OFFSET-OUTSIDE", "", "OFFSET lies outside the variable (its size is said)"},
    {"OTHER-MODEL", "", "--model does not match this PC's model (both are said); nothing was written"},
    {"OTHER-FIRMWARE", "", "--firmware does not match this PC's firmware version, or undo: the change was made under another one, to whose layout the old value belongs (both are said; undo --force writes it all the same); nothing was written"},
    {"OTHER-SIZE", "", "--size is not the variable's size (both are said); nothing was written"},
    {"OTHER-VALUE", "", "--was: the byte holds neither DATA nor a value listed (both are said); nothing was written"},
    {"NOT-WRITABLE", "", "the variable's attributes (said in the message) let Windows write no value of it while it runs: volatile, or authenticated writes; nothing was written"},
    {"WRITE-ERROR", "-<code>", "the write was refused, Windows error <code> (19: read-only variable; 87: the firmware refuses it)"},
    {"NOT-KEPT", "", "written, but the byte reads back another value"},
    {"NO-READ-BACK", "", "written, but the variable could not be read again"},
    {"BYTE-MOVED", "", "undo: the byte holds neither DATA nor the old value"},
    {"NO-RECORD", "", "undo: this PC's journal has no such change"},
    {"JOURNAL-DAMAGED", "", "undo: this byte's records in the journal disagree (a cut record that names it, an outcome without its intent); nothing was written, even with --force"},
    {"LOG-UNWRITABLE", "", "the central log cannot be written: nothing changed"},
    {"NOT-RECORDED", "", "changed and verified, but not recorded in the central log (exit 255; the journal has the record, and a re-run, which finds the byte set, logs)"},
    {"JOURNAL-UNTRUSTED", "", "the journal folder can be changed by other users"},
    {"JOURNAL-UNWRITABLE", "", "the journal folder or a backup cannot be written"},
    {"NO-LOCK", "", "the lock cannot be made at all (the Windows error is said): nothing was read or changed"},
    {"LOCK-BUSY", "", "see BUSY"},
    {"BAD-ARGUMENT", "", "see REFUSED"},
};
// clang-format on

namespace fleet_words
{

constexpr bool SameText(const char* pszA, const char* pszB)
{
    while (*pszA != '\0' && *pszA == *pszB)
    {
        ++pszA;
        ++pszB;
    }
    return *pszA == *pszB;
}

// Deliberately not constexpr: a name below whose word has no row reaches it
// while the compiler evaluates the name, and the build stops there.
inline void WordHasNoRowInItsTable() {}

template <typename Row, size_t N>
constexpr const char* WordOf(const Row (&rows)[N], const char* pszWord)
{
    for (const Row& row : rows)
        if (SameText(row.pszWord, pszWord))
            return row.pszWord;
    WordHasNoRowInItsTable();
    return nullptr;
}

// Words are upper-case letters and digits in parts joined by single '-', and
// each appears once in its table: a log filter splits on nothing else.
constexpr bool IsWord(const char* psz)
{
    bool blPartStart = true;
    for (; *psz != '\0'; ++psz)
    {
        const bool blAlnum = (*psz >= 'A' && *psz <= 'Z') || (*psz >= '0' && *psz <= '9');
        if (!blAlnum && (*psz != '-' || blPartStart))
            return false;
        blPartStart = *psz == '-';
    }
    return !blPartStart;
}

template <typename Row, size_t N> constexpr bool AreDistinctWords(const Row (&rows)[N])
{
    for (size_t i = 0; i < N; ++i)
    {
        if (!IsWord(rows[i].pszWord))
            return false;
        for (size_t j = 0; j < i; ++j)
            if (SameText(rows[i].pszWord, rows[j].pszWord))
                return false;
    }
    return true;
}

} // namespace fleet_words

static_assert(fleet_words::AreDistinctWords(kFleetOutcomes),
              "an outcome word is malformed or twice");
static_assert(fleet_words::AreDistinctWords(kFleetReasons), "a reason word is malformed or twice");

// The names the code uses; each must name a row above, or the build stops.
constexpr const char* FleetOutcome(const char* pszWord)
{
    return fleet_words::WordOf(kFleetOutcomes, pszWord);
}
constexpr const char* FleetReason(const char* pszWord)
{
    return fleet_words::WordOf(kFleetReasons, pszWord);
}

constexpr const char* kOutcomeChanged = FleetOutcome("CHANGED");
constexpr const char* kOutcomeUnchanged = FleetOutcome("UNCHANGED");
constexpr const char* kOutcomeUndone = FleetOutcome("UNDONE");
constexpr const char* kOutcomeHolds = FleetOutcome("HOLDS");
constexpr const char* kOutcomeReady = FleetOutcome("READY");
constexpr const char* kOutcomeNotPossible = FleetOutcome("NOT-POSSIBLE");
constexpr const char* kOutcomeFailed = FleetOutcome("FAILED");
constexpr const char* kOutcomeRefused = FleetOutcome("REFUSED");
constexpr const char* kOutcomeBusy = FleetOutcome("BUSY");
constexpr const char* kOutcomeInterrupted = FleetOutcome("INTERRUPTED");

constexpr const char* kReasonLegacyBios = FleetReason("LEGACY-BIOS");
constexpr const char* kReasonNoRight = FleetReason("NO-RIGHT");
constexpr const char* kReasonVariableMissing = FleetReason("VARIABLE-MISSING");
constexpr const char* kReasonOffsetOutside = FleetReason("OFFSET-OUTSIDE");
constexpr const char* kReasonReadError = FleetReason("READ-ERROR");   // + "-<code>"
constexpr const char* kReasonWriteError = FleetReason("WRITE-ERROR"); // + "-<code>"
constexpr const char* kReasonNotKept = FleetReason("NOT-KEPT");
constexpr const char* kReasonNoReadBack = FleetReason("NO-READ-BACK");
constexpr const char* kReasonByteMoved = FleetReason("BYTE-MOVED");
constexpr const char* kReasonNoRecord = FleetReason("NO-RECORD");
constexpr const char* kReasonLogUnwritable = FleetReason("LOG-UNWRITABLE");
constexpr const char* kReasonNotRecorded = FleetReason("NOT-RECORDED");
constexpr const char* kReasonJournalUntrusted = FleetReason("JOURNAL-UNTRUSTED");
constexpr const char* kReasonJournalUnwritable = FleetReason("JOURNAL-UNWRITABLE");
constexpr const char* kReasonLockBusy = FleetReason("LOCK-BUSY");
constexpr const char* kReasonBadArgument = FleetReason("BAD-ARGUMENT");
constexpr const char* kReasonNoMemory = FleetReason("NO-MEMORY");
constexpr const char* kReasonNotWritable = FleetReason("NOT-WRITABLE");
constexpr const char* kReasonJournalDamaged = FleetReason("JOURNAL-DAMAGED");
constexpr const char* kReasonNoLock = FleetReason("NO-LOCK");
constexpr const char* kReasonOtherModel = FleetReason("OTHER-MODEL");
constexpr const char* kReasonOtherFirmware = FleetReason("OTHER-FIRMWARE");
constexpr const char* kReasonOtherSize = FleetReason("OTHER-SIZE");
constexpr const char* kReasonOtherValue = FleetReason("OTHER-VALUE");
