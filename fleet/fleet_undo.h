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
    };
    Kind kind = Kind::NoRecord;
    std::string run;  // the change's run id
    uint8_t bOld = 0; // the value the byte held before that change
    // The change's end is not known: its intent has no outcome record, or its
    // outcome is FAILED with reason NO-READ-BACK (written, not read again).
    // Either way the write may have happened.
    bool blInterrupted = false;
};

// The change an undo of NAME GUID OFFSET DATA takes back: the latest (in
// journal order) `set` of that DATA whose intent wrote DATA over another value
// (old != DATA) and whose outcome is CHANGED, missing or INTERRUPTED
// (interrupted: the write may have happened), or FAILED with reason
// NO-READ-BACK (likewise).
// Undo runs are never themselves taken back, other failed runs and
// same-value runs never count; so an undo chooses the same change again after
// it ran (the caller then finds the byte holding the old value already).
// NothingToTakeBack: no change, but a set run of this setting ended
// UNCHANGED or its intent found the byte holding DATA (a forced write).
// NAME compares exactly, GUID and the command word without regard to ASCII
// case, OFFSET and DATA by value.
UndoChoice ChooseUndo(const std::vector<JournalRecord>& records, const std::string& name,
                      const std::string& guid, uint32_t dwOffset, uint8_t bData);

// Run ids of intents that have no outcome record, in journal order.
std::vector<std::string> InterruptedRuns(const std::vector<JournalRecord>& records);
