// Which change an undo takes back, chosen from the PC's journal alone.
#pragma once

#include "fleet_records.h"

#include <string>
#include <vector>

struct UndoChoice
{
    enum class Kind
    {
        Change,            // a change of this byte to DATA: restore bOld
        NothingToTakeBack, // no such change, but set runs found the byte holding DATA
        NoRecord,          // this PC has no record of a change of this byte to DATA
        TakenBack,         // the change was taken back already: write nothing
        Damaged,           // this byte's records do not agree: write nothing
    };
    Kind kind = Kind::NoRecord;
    // Change, TakenBack: the change's run id. Damaged: the run the damage
    // names, "" when no run id can be read.
    std::string run;
    uint8_t bOld = 0; // Change, TakenBack: the value the byte held before that change
    // Change, TakenBack: the firmware version the change was made under, as
    // its intent records it; "" when not known (a record of an earlier
    // version, or SMBIOS gave none), which is no difference from any.
    std::string firmware;
    // The change's end is not known: its intent has no outcome record, or its
    // outcome is FAILED with reason NO-READ-BACK (written, not read again).
    // Either way the write may have happened.
    bool blInterrupted = false;
    // TakenBack: the undo run that took the change back, and its time.
    std::string undoRun;
    std::string undoTime;
    // Damaged: the damaged record's first line, 0 when the damage lies
    // between readable records; and what does not agree, as a sentence
    // without its full stop ("run R has an outcome CHANGED without its intent").
    size_t nLine = 0;
    std::string damage;
};

// The change an undo of NAME GUID OFFSET DATA takes back, from the journal's
// readable records and told by its damaged ones.
// Damaged, before anything else, when this byte's records (same NAME, GUID,
// OFFSET; any DATA, any command) do not agree: a damaged record names the
// byte (three of its whole fields in a row are NAME, GUID and OFFSET: the cut
// record's own, or those of a record glued to it; or its run field names a
// run with a readable record of this byte); an outcome that claims a write
// (CHANGED, UNDONE, INTERRUPTED, a read-back value, or reason NOT-KEPT,
// NO-READ-BACK or WRITE-ERROR-<n>) has no intent of its run before it; or an
// intent and its run's outcome differ in command, NAME, GUID, OFFSET, DATA,
// old, new or undoes, where either is of this byte. A damaged record takes
// precedence over the others, and the first in file order is named.
// The change is the latest (in journal order) `set` of that DATA whose intent
// wrote DATA over another value (old != DATA) and whose outcome is CHANGED,
// missing or INTERRUPTED (interrupted: the write may have happened), or FAILED
// with reason NO-READ-BACK (likewise). Undo runs are never themselves taken
// back, other failed runs and same-value runs never count.
// TakenBack: the change is there, and an undo of this setting whose undoes
// names its run ended UNDONE (verified); the first such undo is named.
// NothingToTakeBack: no change, but a set run of this setting ended
// UNCHANGED or its intent found the byte holding DATA (a forced write).
// NAME compares exactly, GUID and the command word without regard to ASCII
// case, OFFSET and DATA by value.
UndoChoice ChooseUndo(const JournalContents& journal, const std::string& name,
                      const std::string& guid, uint32_t dwOffset, uint8_t bData);

// Run ids of intents that have no outcome record, in journal order.
std::vector<std::string> InterruptedRuns(const JournalContents& journal);
