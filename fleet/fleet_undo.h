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
    std::string run;           // the change's run id
    uint8_t bOld = 0;          // the value the byte held before that change
    bool blInterrupted = false; // the change has an intent but no outcome
};

// The change an undo of NAME GUID OFFSET DATA takes back: the latest `set`
// whose intent wrote DATA over another value (old != DATA) and whose outcome
// is CHANGED or missing (interrupted: the write may have happened). Undo runs
// are never themselves taken back, failed and same-value runs never count.
// NAME compares exactly, GUID without regard to case, OFFSET by value.
UndoChoice ChooseUndo(const std::vector<JournalRecord>& records, const std::string& name,
                      const std::string& guid, uint32_t dwOffset, uint8_t bData);

// Run ids of intents that have no outcome record, in journal order.
std::vector<std::string> InterruptedRuns(const std::vector<JournalRecord>& records);
