#include "fleet_undo.h"

#include "fleet_args.h"
#include "fleet_outcomes.h"

#include <algorithm>
#include <map>
#include <set>

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

// The byte: NAME, GUID and OFFSET; the setting adds DATA.
struct Byte
{
    const std::string& name;
    const std::string& guid;
    uint32_t dwOffset;
};

bool IsOf(const JournalRecord& record, const Byte& byte)
{
    return record.name == byte.name && EqualNoCase(record.guid, byte.guid) &&
           record.dwOffset == byte.dwOffset;
}

bool SameSetting(const JournalRecord& record, const Byte& byte, uint8_t bData)
{
    return IsOf(record, byte) && record.bData == bData;
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

// An outcome that says the variable was (or may have been) written: only a
// run whose intent was on record first writes.
bool ClaimsWrite(const JournalRecord& outcome)
{
    const std::string writeError = std::string(kReasonWriteError) + "-";
    for (const char* pszWord : {kOutcomeChanged, kOutcomeUndone, kOutcomeInterrupted})
        if (outcome.outcome == pszWord)
            return true;
    return outcome.blHaveReadBack || outcome.reason == kReasonNotKept ||
           outcome.reason == kReasonNoReadBack ||
           outcome.reason.compare(0, writeError.size(), writeError) == 0;
}

// The fields an outcome repeats from its run's intent, as the program writes
// them (GUID in any case: it names the same variable).
bool Agree(const JournalRecord& intent, const JournalRecord& outcome)
{
    return EqualNoCase(intent.command, outcome.command) && intent.name == outcome.name &&
           EqualNoCase(intent.guid, outcome.guid) && intent.dwOffset == outcome.dwOffset &&
           intent.bData == outcome.bData && intent.blHaveOld == outcome.blHaveOld &&
           intent.bOld == outcome.bOld && intent.blHaveNew == outcome.blHaveNew &&
           intent.bNew == outcome.bNew && intent.undoes == outcome.undoes;
}

// Whether a damaged record names the byte, and the run it names then.
bool NamesByte(const DamagedRecord& damaged, const Byte& byte,
               const std::set<std::string>& runsOfByte, std::string* pRun)
{
    const RecordFields& fields = damaged.fields;
    for (size_t i = 0; i + 2 < fields.size(); ++i)
    {
        uint32_t dwOffset = 0;
        if (fields[i] == byte.name && EqualNoCase(fields[i + 1], byte.guid) &&
            ParseHexField(fields[i + 2], 8, &dwOffset) && dwOffset == byte.dwOffset)
        {
            // The run stands two fields before NAME, when that is whole.
            constexpr size_t kRunBeforeName = kJName - kJRun;
            *pRun = i >= kRunBeforeName ? fields[i - kRunBeforeName] : std::string();
            return true;
        }
    }
    if (fields.size() > kJRun && runsOfByte.count(fields[kJRun]) != 0)
    {
        *pRun = fields[kJRun];
        return true;
    }
    return false;
}

// Damage of the byte's records, as ChooseUndo's comment says.
bool FindDamage(const JournalContents& journal, const Byte& byte, UndoChoice* pChoice)
{
    std::set<std::string> runsOfByte;
    for (const JournalRecord& record : journal.records)
        if (IsOf(record, byte))
            runsOfByte.insert(record.run);
    for (const DamagedRecord& damaged : journal.damaged)
    {
        if (!NamesByte(damaged, byte, runsOfByte, &pChoice->run))
            continue;
        pChoice->nLine = damaged.nLine;
        pChoice->damage = "line " + std::to_string(damaged.nLine) +
                          " is no whole record and names this byte" +
                          (pChoice->run.empty() ? "" : " (run " + pChoice->run + ")");
        return true;
    }
    std::map<std::string, const JournalRecord*> intents; // each run's intent so far
    for (const JournalRecord& record : journal.records)
    {
        if (record.kind == JournalKind::Intent)
        {
            intents.emplace(record.run, &record);
            continue;
        }
        const auto found = intents.find(record.run);
        if (found == intents.end())
        {
            if (!IsOf(record, byte) || !ClaimsWrite(record))
                continue;
            pChoice->damage = "run " + record.run + " has an outcome " + record.outcome +
                              (record.reason.empty() ? "" : " " + record.reason) +
                              " without its intent";
        }
        else if (Agree(*found->second, record) ||
                 !(IsOf(record, byte) || IsOf(*found->second, byte)))
            continue;
        else
            pChoice->damage = "run " + record.run + " has an intent and an outcome that differ";
        pChoice->run = record.run;
        return true;
    }
    return false;
}

} // namespace

UndoChoice ChooseUndo(const JournalContents& journal, const std::string& name,
                      const std::string& guid, uint32_t dwOffset, uint8_t bData)
{
    const Byte byte = {name, guid, dwOffset};
    UndoChoice choice;
    if (FindDamage(journal, byte, &choice))
    {
        choice.kind = UndoChoice::Kind::Damaged;
        return choice;
    }
    const std::vector<JournalRecord>& records = journal.records;
    const std::map<std::string, const JournalRecord*> outcomes = Outcomes(records);
    bool blFoundHolding = false; // a set run found the byte holding DATA
    for (const JournalRecord& record : records)
    {
        if (!EqualNoCase(record.command, "set") || !SameSetting(record, byte, bData))
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
        // outcome, or INTERRUPTED as a later run closed it; FAILED because it
        // could not be read back).
        const auto found = outcomes.find(record.run);
        const JournalRecord* pOutcome = found == outcomes.end() ? nullptr : found->second;
        const bool blUnknown =
            !pOutcome || pOutcome->outcome == kOutcomeInterrupted ||
            (pOutcome->outcome == kOutcomeFailed && pOutcome->reason == kReasonNoReadBack);
        if (!blUnknown && pOutcome->outcome != kOutcomeChanged)
            continue;
        choice.kind = UndoChoice::Kind::Change; // the latest one wins
        choice.run = record.run;
        choice.bOld = record.bOld;
        choice.firmware = record.firmware;
        choice.blInterrupted = blUnknown;
    }
    if (choice.kind != UndoChoice::Kind::Change)
    {
        if (blFoundHolding)
            choice.kind = UndoChoice::Kind::NothingToTakeBack;
        return choice;
    }
    // Taken back once by a verified undo: never again, whatever the byte
    // holds now (something else may have set DATA since).
    for (const JournalRecord& record : records)
    {
        if (record.kind != JournalKind::Outcome || !EqualNoCase(record.command, "undo") ||
            record.undoes != choice.run || !SameSetting(record, byte, bData) ||
            record.outcome != kOutcomeUndone)
            continue;
        choice.kind = UndoChoice::Kind::TakenBack;
        choice.undoRun = record.run;
        choice.undoTime = record.time;
        break;
    }
    return choice;
}

std::vector<std::string> InterruptedRuns(const JournalContents& journal)
{
    const std::map<std::string, const JournalRecord*> outcomes = Outcomes(journal.records);
    std::vector<std::string> runs;
    for (const JournalRecord& record : journal.records)
    {
        if (record.kind != JournalKind::Intent || outcomes.count(record.run) != 0 ||
            std::find(runs.begin(), runs.end(), record.run) != runs.end())
            continue;
        runs.push_back(record.run);
    }
    return runs;
}
