#include "fleet_undo.h"

#include "fleet_outcomes.h"

#include <algorithm>
#include <map>

namespace
{

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y)
                                              {
                                                  auto lower = [](char ch) {
                                                      return (ch >= 'A' && ch <= 'Z')
                                                                 ? static_cast<char>(ch - 'A' + 'a')
                                                                 : ch;
                                                  };
                                                  return lower(x) == lower(y);
                                              });
}

bool SameSetting(const JournalRecord& record, const std::string& name, const std::string& guid,
                 uint32_t dwOffset, uint8_t bData)
{
    return record.name == name && EqualNoCase(record.guid, guid) && record.dwOffset == dwOffset &&
           record.bData == bData;
}

// Each run's last outcome record.
std::map<std::string, const JournalRecord*> Outcomes(const std::vector<JournalRecord>& records)
{
    std::map<std::string, const JournalRecord*> outcomes;
    for (const JournalRecord& record : records)
        if (record.kind == JournalKind::Outcome)
            outcomes[record.run] = &record;
    return outcomes;
}

} // namespace

UndoChoice ChooseUndo(const std::vector<JournalRecord>& records, const std::string& name,
                      const std::string& guid, uint32_t dwOffset, uint8_t bData)
{
    const std::map<std::string, const JournalRecord*> outcomes = Outcomes(records);
    UndoChoice choice;
    bool blFoundHolding = false; // a set run found the byte holding DATA
    for (const JournalRecord& record : records)
    {
        if (!EqualNoCase(record.command, "set") ||
            !SameSetting(record, name, guid, dwOffset, bData))
            continue;
        if (record.kind == JournalKind::Outcome)
        {
            blFoundHolding = blFoundHolding || record.outcome == kOutcomeUnchanged;
            continue;
        }
        if (!record.blHaveOld || !record.blHaveNew || record.bNew != bData)
            continue;
        if (record.bOld == bData)
        {
            blFoundHolding = true; // a forced same-value write: nothing changed
            continue;
        }
        // Counts: verified (CHANGED), or the write may have happened (no
        // outcome: interrupted; FAILED because it could not be read back).
        const auto found = outcomes.find(record.run);
        const JournalRecord* pOutcome = found == outcomes.end() ? nullptr : found->second;
        const bool blUnknown = !pOutcome || (pOutcome->outcome == kOutcomeFailed &&
                                             pOutcome->reason == kReasonNoReadBack);
        if (!blUnknown && pOutcome->outcome != kOutcomeChanged)
            continue;
        choice.kind = UndoChoice::Kind::Change; // the latest one wins
        choice.run = record.run;
        choice.bOld = record.bOld;
        choice.blInterrupted = blUnknown;
    }
    if (choice.kind != UndoChoice::Kind::Change && blFoundHolding)
        choice.kind = UndoChoice::Kind::NothingToTakeBack;
    return choice;
}

std::vector<std::string> InterruptedRuns(const std::vector<JournalRecord>& records)
{
    const std::map<std::string, const JournalRecord*> outcomes = Outcomes(records);
    std::vector<std::string> runs;
    for (const JournalRecord& record : records)
    {
        if (record.kind != JournalKind::Intent || outcomes.count(record.run) != 0 ||
            std::find(runs.begin(), runs.end(), record.run) != runs.end())
            continue;
        runs.push_back(record.run);
    }
    return runs;
}
