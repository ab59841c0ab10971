// The words a run's outcome and reason are recorded and reported by: stable,
// one word each, so that a log filter, a report or changed_when can rely on them.
#pragma once

// Outcomes
constexpr const char* kOutcomeChanged = "CHANGED";          // set: written and read back as DATA
constexpr const char* kOutcomeUnchanged = "UNCHANGED";      // set / undo: nothing to write
constexpr const char* kOutcomeUndone = "UNDONE";            // undo: old value written and read back
constexpr const char* kOutcomeHolds = "HOLDS";              // check: the byte holds DATA
constexpr const char* kOutcomeReady = "READY";              // check: the byte would be changed
constexpr const char* kOutcomeNotPossible = "NOT-POSSIBLE"; // check: the change cannot be made here
constexpr const char* kOutcomeFailed = "FAILED";            // set / undo: not done, see the reason
constexpr const char* kOutcomeRefused = "REFUSED";          // the command line was refused
constexpr const char* kOutcomeBusy = "BUSY"; // another Ardentis program held the lock
// Journal only: a later run found this run's intent without an outcome.
constexpr const char* kOutcomeInterrupted = "INTERRUPTED";

// Reasons
constexpr const char* kReasonLegacyBios = "LEGACY-BIOS";
constexpr const char* kReasonNoRight = "NO-RIGHT";                 // read error 1314
constexpr const char* kReasonVariableMissing = "VARIABLE-MISSING"; // read error 203
constexpr const char* kReasonOffsetOutside = "OFFSET-OUTSIDE";
constexpr const char* kReasonReadError = "READ-ERROR";    // + "-<code>"
constexpr const char* kReasonWriteError = "WRITE-ERROR";  // + "-<code>"
constexpr const char* kReasonNotKept = "NOT-KEPT";        // written, reads back otherwise
constexpr const char* kReasonNoReadBack = "NO-READ-BACK"; // written, could not be read again
constexpr const char* kReasonByteMoved = "BYTE-MOVED";    // undo: neither DATA nor the old value
constexpr const char* kReasonNoRecord = "NO-RECORD";      // undo: no change of this byte to DATA
constexpr const char* kReasonLogUnwritable = "LOG-UNWRITABLE";
constexpr const char* kReasonNotRecorded = "NOT-RECORDED"; // verified change, central log failed
constexpr const char* kReasonJournalUntrusted = "JOURNAL-UNTRUSTED";
constexpr const char* kReasonJournalUnwritable = "JOURNAL-UNWRITABLE";
constexpr const char* kReasonLockBusy = "LOCK-BUSY";
constexpr const char* kReasonBadArgument = "BAD-ARGUMENT";
constexpr const char* kReasonNoMemory = "NO-MEMORY";
constexpr const char* kReasonNotWritable = "NOT-WRITABLE"; // attributes Windows cannot write
constexpr const char* kReasonNoLock = "NO-LOCK";           // the lock could not be made
constexpr const char* kReasonJournalDamaged =
    "JOURNAL-DAMAGED"; // undo: this setting's records disagree
