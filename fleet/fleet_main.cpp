// The fleet program: check, set, undo and report of one byte of one UEFI
// variable, for the deployment systems that run it on thousands of PCs. The
// firmware lock is held from before the first read to after the read back,
// so no other Ardentis program changes the variable in between.
#include "fleet_args.h"
#include "fleet_faults.h"
#include "fleet_files.h"
#include "fleet_guard.h"
#include "fleet_outcomes.h"
#include "fleet_records.h"
#include "fleet_report.h"
#include "fleet_summary.h"
#include "fleet_undo.h"
#include "smbios.h"
#include "smbios_source.h"
#include "../common/firmware_lock.h"
#include "../fwvar/dump_format.h"
#include "../fwvar/firmware_variables.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Arguments are taken as given: a runtime that expanded wildcards would turn
// a NAME or log path holding '*' or '?' into file names.
extern "C"
{
    int _dowildcard = 0;
}

namespace
{

bool g_blQuiet = false; // check --detect: standard output carries one line or none

// Standard output as UTF-8 text, or through the console's own call when it is
// one, so that names in any script show as typed.
void WriteOut(const std::string& text)
{
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    if (hOut == nullptr || hOut == INVALID_HANDLE_VALUE)
        return;
    DWORD dwMode = 0;
    if (GetConsoleMode(hOut, &dwMode))
    {
        std::wstring wide = Widen(text);
        DWORD cchWritten = 0;
        WriteConsoleW(hOut, wide.data(), static_cast<DWORD>(wide.size()), &cchWritten, nullptr);
        return;
    }
    DWORD cbWritten = 0;
    WriteFile(hOut, text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr);
}

// Texts made with "\n" line ends, as the console and redirected output take them.
std::string CrLf(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

void PrintLine(const std::string& line)
{
    if (!g_blQuiet)
        WriteOut(line + "\r\n");
}

struct FleetRun
{
    explicit FleetRun(const FleetRequest& request) : req(request) {}

    const FleetRequest& req;
    std::string time;
    std::string runId;
    std::string computer;
    PcFacts pc; // what the run ran on: model, firmware, and as read, size and byte
    std::vector<std::string> messages;

    std::string outcome;
    std::string reason;
    int32_t nExitCode = 0;
    bool blHaveOld = false;
    uint8_t bOld = 0;
    bool blHaveNew = false;
    uint8_t bNew = 0;
    bool blHaveReadBack = false;
    uint8_t bReadBack = 0;
    std::string backup;        // the backup the central log names
    std::string journalBackup; // the journal's own
    std::string undoes;

    std::string ansiName;  // NAME as the firmware-variable calls take it
    std::string logFile;   // the central log, "" when none
    std::string logFolder; // set when the log is a folder: backups go beside the PC's log
    bool blLogWritable = true;
    std::string journalFolder;
    std::string journalFile;
    bool blJournalReady = false;
    HANDLE hJournalFolder = INVALID_HANDLE_VALUE; // held while the run uses the journal
    JournalContents journal;

    void Say(const std::string& message)
    {
        messages.push_back(message);
        PrintLine(message);
    }
    bool Changes() const { return req.command != FleetCommand::Check; }
    void End(const char* pszOutcome, const std::string& reasonWord, int32_t nCode)
    {
        outcome = pszOutcome;
        reason = reasonWord;
        nExitCode = nCode;
    }
    // A failure: NOT-POSSIBLE for a check (nothing was to be written), FAILED otherwise.
    void Fail(const std::string& reasonWord)
    {
        End(Changes() ? kOutcomeFailed : kOutcomeNotPossible, reasonWord, 255);
    }
    std::string Setting() const
    {
        return req.name + " " + req.guid + " OFFSET " + HexOffset(req.dwOffset);
    }
};

std::string JoinMessages(const std::vector<std::string>& messages)
{
    std::string joined;
    for (const std::string& message : messages)
        joined += (joined.empty() ? "" : " / ") + message;
    return joined;
}

// The variable whole, with its attributes where Windows gives them.
bool ReadWhole(const FleetRun& run, VariableCopy* pCopy, uint32_t* pdwError)
{
    return ReadVariable(run.ansiName.c_str(), run.req.guid.c_str(), true, pCopy, pdwError) ==
           VariableRead::Ok;
}

void ReportReadError(FleetRun& run, uint32_t dwError)
{
    if (dwError == ERROR_PRIVILEGE_NOT_HELD)
    {
        run.Say("The variable cannot be read: error 1314, no right to firmware variables "
                "(run elevated or as SYSTEM).");
        run.Fail(kReasonNoRight);
    }
    else if (dwError == ERROR_ENVVAR_NOT_FOUND)
    {
        run.Say("The variable cannot be read: error 203, it does not exist.");
        run.Fail(kReasonVariableMissing);
    }
    else if (dwError == ERROR_NOT_ENOUGH_MEMORY)
    {
        run.Say("The variable cannot be read: not enough memory.");
        run.Fail(kReasonNoMemory);
    }
    else
    {
        run.Say("The variable cannot be read: " + OsErrorText(dwError) + ".");
        run.Fail(std::string(kReasonReadError) + "-" + std::to_string(dwError));
    }
}

// The central log's file for this PC, and whether a line can be written
// there now. Without a line before a change, nothing may change.
void PrepareCentralLog(FleetRun& run)
{
    if (run.req.logPath.empty())
        return;
    if (IsFolder(run.req.logPath))
    {
        run.logFolder = run.req.logPath;
        char chLast = run.logFolder.back();
        if (chLast != '\\' && chLast != '/')
            run.logFolder += '\\';
        run.logFile = run.logFolder + run.computer + ".log";
    }
    else
        run.logFile = run.req.logPath;
    DWORD dwError = 0;
    if (!ProbeAppend(run.logFile, &dwError))
    {
        run.blLogWritable = false;
        run.Say("The central log " + run.logFile + " cannot be written, " + OsErrorText(dwError) +
                (run.Changes() ? ": nothing was changed." : "."));
    }
}

bool PrepareJournal(FleetRun& run)
{
    if (!JournalFolderPath(&run.journalFolder))
    {
        run.Say("The journal's folder is unknown: neither ProgramData nor ARDENTIS_FLEET_HOME is "
                "set. Nothing was changed.");
        run.Fail(kReasonJournalUnwritable);
        return false;
    }
    run.journalFile = run.journalFolder + "\\journal.log";
    std::string why;
    switch (PrepareJournalFolder(run.journalFolder, run.journalFile, &run.hJournalFolder, &why))
    {
        case JournalFolderState::Ready:
            break;
        case JournalFolderState::Untrusted:
            run.Say("The journal folder " + run.journalFolder + " is not trusted: " + why +
                    ". Only SYSTEM and the Administrators may change it. Nothing was changed.");
            run.Fail(kReasonJournalUntrusted);
            return false;
        case JournalFolderState::Unusable:
            run.Say("The journal folder " + run.journalFolder + " cannot be used: " + why +
                    ". Nothing was changed.");
            run.Fail(kReasonJournalUnwritable);
            return false;
    }
    std::string text;
    DWORD dwError = 0;
    if (!ReadWholeFile(run.journalFile, &text, &dwError))
    {
        run.Say("The journal " + run.journalFile + " cannot be read, " + OsErrorText(dwError) +
                ". Nothing was changed.");
        run.Fail(kReasonJournalUnwritable);
        return false;
    }
    run.journal = ReadJournal(text);
    // Told by every run that reads them: a cut record is never used, and
    // undo refuses a byte it names.
    if (!run.journal.damaged.empty())
    {
        std::string lines;
        for (const DamagedRecord& damaged : run.journal.damaged)
            lines += (lines.empty() ? "" : ", ") + std::to_string(damaged.nLine);
        run.Say("The journal holds " + std::to_string(run.journal.damaged.size()) +
                " unreadable record(s), at line(s) " + lines + "; they were left out.");
    }
    // Told once: the journal closes each such run, keeping it a change that
    // undo can take back.
    for (const std::string& interrupted : InterruptedRuns(run.journal))
    {
        run.Say("An earlier run, " + interrupted +
                ", was interrupted after its intent was recorded: its outcome is unknown.");
        auto intent = std::find_if(run.journal.records.begin(), run.journal.records.end(),
                                   [&](const JournalRecord& r) { return r.run == interrupted; });
        JournalRecord closing = *intent;
        closing.kind = JournalKind::Outcome;
        closing.outcome = kOutcomeInterrupted;
        closing.nExitCode = 255;
        DWORD dwAppendError = 0;
        if (AppendText(run.journalFile, std::string(), FormatJournalRecord(closing), true,
                       &dwAppendError))
            run.journal.records.push_back(closing);
    }
    run.blJournalReady = true;
    return true;
}

bool AppendJournal(FleetRun& run, const JournalRecord& record, DWORD* pdwError)
{
    return AppendText(run.journalFile, std::string(), FormatJournalRecord(record), true, pdwError);
}

JournalRecord JournalBase(const FleetRun& run, JournalKind kind)
{
    JournalRecord record;
    record.kind = kind;
    record.time = run.time;
    record.run = run.runId;
    record.command = FleetCommandWord(run.req.command);
    record.name = run.req.name;
    record.guid = run.req.guid;
    record.dwOffset = run.req.dwOffset;
    record.bData = run.req.bData;
    record.blHaveOld = run.blHaveOld;
    record.bOld = run.bOld;
    record.blHaveNew = run.blHaveNew;
    record.bNew = run.bNew;
    record.undoes = run.undoes;
    record.backup = run.journalBackup;
    record.model = run.pc.model;
    record.firmware = run.pc.firmware;
    record.blHaveSize = run.pc.blHaveSize;
    record.dwSize = run.pc.dwSize;
    return record;
}

// A backup of the variable as it was; a failure stops the run before any write.
bool WriteBackup(FleetRun& run, const std::string& path, const std::string& dump,
                 const char* pszReason)
{
    DWORD dwError = 0;
    if (WriteNewFile(path, dump, &dwError))
        return true;
    run.Say("The backup " + path + " cannot be written, " + OsErrorText(dwError) +
            ": nothing was changed.");
    run.Fail(pszReason);
    return false;
}

// Why Windows cannot rewrite a variable of these attributes while it runs.
std::string UnwritableWhy(uint32_t dwAttributes)
{
    char szHex[16];
    snprintf(szHex, sizeof szHex, "0x%X", static_cast<unsigned>(dwAttributes));
    const char* pszWhy = "bits this program does not write";
    if (dwAttributes & kVariableTimeBasedAuthenticatedWrite)
        pszWhy = "time-based authenticated writes: only a value signed with the firmware's key "
                 "is taken";
    else if (dwAttributes & kVariableAuthenticatedWrite)
        pszWhy = "authenticated writes: only a signed value is taken";
    else if (!(dwAttributes & kVariableNonVolatile))
        pszWhy = "volatile: firmware takes no writes of it once Windows runs";
    else if (!(dwAttributes & kVariableRuntimeAccess))
        pszWhy = "no run-time access";
    return std::string("the variable's attributes are ") + szHex + " (" + pszWhy + ")";
}

// False, with the reason said and the run failed, when the variable's
// attributes (where Windows told them) allow no write while Windows runs.
bool Rewritable(FleetRun& run, const VariableCopy& copy)
{
    if (!copy.blHaveAttributes || IsRewritableAtRunTime(copy.dwAttributes))
        return true;
    run.Say("It cannot be changed here: " + UnwritableWhy(copy.dwAttributes) +
            ". Nothing was written.");
    run.Fail(kReasonNotWritable);
    return false;
}

// Writes bNew over the byte, with a backup and the intent on record first,
// and reads it back. True when the byte reads back as bNew.
bool WriteAndVerify(FleetRun& run, VariableCopy& copy, uint8_t bNew)
{
    run.blHaveNew = true;
    run.bNew = bNew;
    if (!Rewritable(run, copy))
        return false;
    std::string dump(DumpChunkCapacity(copy.dwSize), '\0');
    dump.resize(FormatDumpText(copy.pbData, copy.dwSize, 0, &dump[0]));

    std::string journalBackup = run.journalFolder + "\\backup-" + run.runId + ".txt";
    if (!WriteBackup(run, journalBackup, dump, kReasonJournalUnwritable))
        return false;
    run.journalBackup = journalBackup;
    run.backup = journalBackup;
    if (!run.logFolder.empty())
    {
        std::string logBackup = run.logFolder + run.computer + "-" + run.runId + ".txt";
        if (!WriteBackup(run, logBackup, dump, kReasonLogUnwritable))
            return false;
        run.backup = logBackup;
    }
    run.Say("The variable as it was (" + std::to_string(copy.dwSize) + " bytes) is kept in " +
            run.backup + ".");

    DWORD dwError = 0;
    if (!AppendJournal(run, JournalBase(run, JournalKind::Intent), &dwError))
    {
        run.Say("The journal " + run.journalFile + " cannot be written, " + OsErrorText(dwError) +
                ": nothing was changed.");
        run.Fail(kReasonJournalUnwritable);
        return false;
    }

    copy.pbData[run.req.dwOffset] = bNew;
    uint32_t dwWriteError = 0;
    // The variable's own attributes, where Windows told them: the plain call
    // would ask for 7 and fail on a variable that carries others.
    const bool blWritten =
        copy.blHaveAttributes
            ? WriteVariableWithAttributes(run.ansiName.c_str(), run.req.guid.c_str(), copy.pbData,
                                          copy.dwSize, copy.dwAttributes, &dwWriteError)
            : WriteVariable(run.ansiName.c_str(), run.req.guid.c_str(), copy.pbData, copy.dwSize,
                            &dwWriteError);
    if (!blWritten)
    {
        run.Say("The write was refused: " + OsErrorText(dwWriteError) + ".");
        run.Fail(std::string(kReasonWriteError) + "-" + std::to_string(dwWriteError));
        return false;
    }
    FleetFaultPoint("after-write");

    VariableCopy again;
    uint32_t dwReadError = 0;
    if (!ReadWhole(run, &again, &dwReadError))
    {
        run.Say("Written, but the variable cannot be read back: " + OsErrorText(dwReadError) + ".");
        run.Fail(kReasonNoReadBack);
        return false;
    }
    bool blThere = run.req.dwOffset < again.dwSize;
    if (blThere)
    {
        run.blHaveReadBack = true;
        run.bReadBack = again.pbData[run.req.dwOffset];
    }
    free(again.pbData);
    if (!blThere)
    {
        run.Say("Written, but the variable reads back with " + std::to_string(again.dwSize) +
                " bytes: the byte is gone.");
        run.Fail(kReasonNoReadBack);
        return false;
    }
    if (run.bReadBack != bNew)
    {
        run.Say("Written but not kept: the byte reads back " + HexByte(run.bReadBack) + ".");
        run.Fail(kReasonNotKept);
        return false;
    }
    run.Say("Written; the byte reads back " + HexByte(run.bReadBack) + ".");
    return true;
}

int32_t ChangedCode(const FleetRun& run)
{
    return run.req.blHaveRebootCode ? static_cast<int32_t>(run.req.dwRebootCode) : 0;
}

void DecideSet(FleetRun& run, VariableCopy& copy)
{
    run.blHaveNew = true;
    run.bNew = run.req.bData;
    if (run.bOld == run.req.bData && !run.req.blForce)
    {
        run.Say("The byte already holds " + HexByte(run.req.bData) + ": nothing to write.");
        run.End(kOutcomeUnchanged, "", 0);
        return;
    }
    if (!WriteAndVerify(run, copy, run.req.bData))
        return;
    if (run.bOld == run.req.bData)
        run.End(kOutcomeUnchanged, "", 0); // written again on request: the byte did not change
    else
        run.End(kOutcomeChanged, "", ChangedCode(run));
}

void DecideUndo(FleetRun& run, VariableCopy& copy)
{
    const std::string data = HexByte(run.req.bData);
    UndoChoice choice =
        ChooseUndo(run.journal, run.req.name, run.req.guid, run.req.dwOffset, run.req.bData);
    if (choice.kind == UndoChoice::Kind::NoRecord)
    {
        run.Say("This PC's journal has no record of a change of this byte to " + data +
                ": nothing was written.");
        run.Fail(kReasonNoRecord);
        return;
    }
    if (choice.kind == UndoChoice::Kind::NothingToTakeBack)
    {
        run.Say("Every recorded run found the byte already holding " + data +
                ": there is nothing to take back.");
        run.End(kOutcomeUnchanged, "", 0);
        return;
    }
    if (choice.kind == UndoChoice::Kind::Damaged)
    {
        // Undo never guesses which value was there before, --force or not.
        const std::string where =
            choice.nLine ? " (line " + std::to_string(choice.nLine) + " of the journal)" : "";
        run.Say("The journal's records of this byte do not agree: " + choice.damage + where +
                ". Nothing was written; the backups beside the journal hold the variable as "
                "each writing run found it.");
        run.Fail(kReasonJournalDamaged);
        return;
    }
    if (choice.kind == UndoChoice::Kind::TakenBack)
    {
        // Each change is taken back once: whatever set the byte again since
        // is not this change.
        run.blHaveNew = true;
        run.bNew = choice.bOld;
        run.Say("Run " + choice.run + " changed the byte from " + HexByte(choice.bOld) + " to " +
                data + "; run " + choice.undoRun + " took that change back at " + choice.undoTime +
                ". Nothing to take back.");
        run.End(kOutcomeUnchanged, "", 0);
        return;
    }
    run.undoes = choice.run;
    run.blHaveNew = true;
    run.bNew = choice.bOld;
    const std::string old = HexByte(choice.bOld);
    run.Say(
        "Run " + choice.run + " changed the byte from " + old + " to " + data +
        (choice.blInterrupted ? " (it was interrupted: the write may not have happened)." : "."));
    // The old value belongs to the layout of the firmware it was read under.
    const GuardVerdict firmware = JudgeUndoFirmware(choice.firmware, run.pc.firmware);
    if (firmware.failed != GuardKind::None && !run.req.blForce)
    {
        run.Say(firmware.message + " Nothing was written (--force writes " + old +
                " all the same).");
        run.Fail(firmware.pszReason);
        return;
    }
    if (run.bOld == choice.bOld)
    {
        run.Say("The byte already holds " + old + ": nothing to write.");
        run.End(kOutcomeUnchanged, "", 0);
        return;
    }
    if (run.bOld != run.req.bData && !run.req.blForce)
    {
        run.Say("The byte holds " + HexByte(run.bOld) + ", neither " + data + " nor " + old +
                ": it was changed since. Nothing was written (--force restores " + old +
                " all the same).");
        run.Fail(kReasonByteMoved);
        return;
    }
    if (WriteAndVerify(run, copy, choice.bOld))
        run.End(kOutcomeUndone, "", ChangedCode(run));
}

// False, with the message said and the run failed, when a guard given does
// not hold for what is known of the PC so far.
bool GuardsHold(FleetRun& run)
{
    const GuardVerdict verdict = JudgeGuards(run.req, run.pc);
    if (verdict.failed == GuardKind::None)
        return true;
    run.Say(verdict.message + " Nothing was written.");
    run.Fail(verdict.pszReason);
    return false;
}

// The PC's model and firmware version from its SMBIOS table: what every run
// records, and what the guards compare. A table that cannot be read leaves
// both unknown, which only a guard of '*' matches.
void ReadIdentity(FleetRun& run)
{
    std::vector<uint8_t> table;
    uint32_t dwError = 0;
    if (!ReadSmbiosTable(&table, &dwError))
    {
        run.Say("The PC's SMBIOS table cannot be read, " + OsErrorText(dwError) +
                ": its model and firmware version are unknown.");
        return;
    }
    PcIdentity identity;
    ParseSmbiosIdentity(table.data(), table.size(), &identity);
    run.pc.model = identity.productName;
    run.pc.firmware = identity.firmwareVersion;
}

// Reads, decides and, for set and undo, writes. Every path sets the outcome.
void RunOnVariable(FleetRun& run)
{
    if (IsLegacyBiosBoot())
    {
        run.Say("Windows was installed using legacy BIOS: there are no firmware variables here.");
        run.Fail(kReasonLegacyBios);
        return;
    }
    // Another model's or firmware's layout: not even its variable is read.
    if (!GuardsHold(run))
        return;
    EnableFirmwareVariablePrivilege();
    VariableCopy copy;
    uint32_t dwError = 0;
    if (!ReadWhole(run, &copy, &dwError))
    {
        ReportReadError(run, dwError);
        return;
    }
    run.pc.blHaveSize = true;
    run.pc.dwSize = copy.dwSize;
    if (!GuardsHold(run))
    {
        free(copy.pbData);
        return;
    }
    if (run.req.dwOffset >= copy.dwSize)
    {
        run.Say("OFFSET " + HexOffset(run.req.dwOffset) + " is outside the variable of " +
                std::to_string(copy.dwSize) + " bytes.");
        run.Fail(kReasonOffsetOutside);
        free(copy.pbData);
        return;
    }
    run.blHaveOld = true;
    run.bOld = copy.pbData[run.req.dwOffset];
    run.Say("The byte at OFFSET " + HexOffset(run.req.dwOffset) + " holds " + HexByte(run.bOld) +
            ".");
    run.pc.blHaveByte = true;
    run.pc.bByte = run.bOld;
    if (!GuardsHold(run))
    {
        free(copy.pbData);
        return;
    }
    // The journal comes after a read that worked: a token that may not change
    // firmware variables (a prompt that is not elevated) never makes the
    // folder, which would then be its own and untrusted for SYSTEM's runs.
    if (run.Changes() && !PrepareJournal(run))
    {
        free(copy.pbData);
        return;
    }
    switch (run.req.command)
    {
        case FleetCommand::Check:
            run.blHaveNew = true;
            run.bNew = run.req.bData;
            if (run.bOld == run.req.bData)
                run.End(kOutcomeHolds, "", 0);
            else if (Rewritable(run, copy))
            {
                run.Say("It would be changed to " + HexByte(run.req.bData) + ".");
                run.End(kOutcomeReady, "", 1);
            }
            break;
        case FleetCommand::Set:
            DecideSet(run, copy);
            break;
        case FleetCommand::Undo:
            DecideUndo(run, copy);
            break;
        case FleetCommand::Report:
        case FleetCommand::None:
            break;
    }
    free(copy.pbData);
}

LogEntry MakeLogEntry(const FleetRun& run)
{
    LogEntry entry;
    entry[kLogTime] = run.time;
    entry[kLogComputer] = run.computer;
    entry[kLogRun] = run.runId;
    entry[kLogCommand] = FleetCommandWord(run.req.command);
    entry[kLogName] = run.req.name;
    entry[kLogGuid] = run.req.guid;
    entry[kLogOffset] = HexOffset(run.req.dwOffset);
    entry[kLogData] = HexByte(run.req.bData);
    entry[kLogOld] = run.blHaveOld ? HexByte(run.bOld) : "";
    entry[kLogReadBack] = run.blHaveReadBack ? HexByte(run.bReadBack) : "";
    entry[kLogOutcome] = run.outcome;
    entry[kLogExitCode] = std::to_string(run.nExitCode);
    entry[kLogReason] = run.reason;
    entry[kLogMessages] = JoinMessages(run.messages);
    entry[kLogBackup] = run.backup;
    entry[kLogModel] = run.pc.model;
    entry[kLogFirmware] = run.pc.firmware;
    entry[kLogSize] = run.pc.blHaveSize ? std::to_string(run.pc.dwSize) : "";
    return entry;
}

// The run's line in the central log and its outcome in the journal. A change
// that was made and verified but could not be logged is not a success: the
// deployment system shows it, and a re-run, which finds the byte set, logs.
void Record(FleetRun& run)
{
    if (!run.logFile.empty() && run.blLogWritable)
    {
        bool blVerifiedChange = run.outcome == kOutcomeChanged || run.outcome == kOutcomeUndone;
        int32_t nCode = run.nExitCode;
        std::string reason = run.reason;
        DWORD dwError = 0;
        if (!AppendText(run.logFile, FormatLogHeader(), FormatLogEntry(MakeLogEntry(run)), true,
                        &dwError))
        {
            if (blVerifiedChange)
            {
                run.Say("Changed and verified, but not recorded in the central log " + run.logFile +
                        ", " + OsErrorText(dwError) + ".");
                nCode = 255;
                reason = kReasonNotRecorded;
            }
            else
            {
                run.Say("Not recorded in the central log " + run.logFile + ", " +
                        OsErrorText(dwError) + ".");
                if (run.Changes() && nCode != 255)
                {
                    nCode = 255;
                    reason = kReasonLogUnwritable;
                }
            }
            run.nExitCode = nCode;
            run.reason = reason;
        }
    }
    if (run.blJournalReady)
    {
        DWORD dwError = 0;
        JournalRecord outcome = JournalBase(run, JournalKind::Outcome);
        outcome.outcome = run.outcome;
        outcome.blHaveReadBack = run.blHaveReadBack;
        outcome.bReadBack = run.bReadBack;
        outcome.nExitCode = run.nExitCode;
        outcome.reason = run.reason;
        if (!AppendJournal(run, outcome, &dwError))
            run.Say("The outcome could not be added to the journal " + run.journalFile + ", " +
                    OsErrorText(dwError) + "; its intent record stands.");
    }
}

RunSummary Summarise(const FleetRun& run)
{
    RunSummary summary;
    summary.outcome = run.outcome;
    summary.nExitCode = run.nExitCode;
    summary.command = FleetCommandWord(run.req.command);
    summary.blHaveOld = run.blHaveOld;
    summary.bOld = run.bOld;
    summary.blHaveNew = run.blHaveNew;
    summary.bNew = run.bNew;
    summary.blHaveReadBack = run.blHaveReadBack;
    summary.bReadBack = run.bReadBack;
    summary.reason = run.reason;
    summary.run = run.runId;
    summary.model = run.pc.model;
    summary.firmware = run.pc.firmware;
    summary.blHaveSize = run.pc.blHaveSize;
    summary.dwSize = run.pc.dwSize;
    return summary;
}

int RunByteCommand(const FleetRequest& req)
{
    FleetRun run(req);
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    run.time = IsoUtcTime(now);
    run.runId = MakeRunId(now);
    run.computer = ComputerName();
    g_blQuiet = req.blDetect;

    FirmwareLock lock;
    DWORD dwLockError = ERROR_SUCCESS;
    const char* pszLockName = kInstanceMutexName;
    FirmwareLockResult lockResult = FirmwareLockResult::Busy;
    PrintLine(std::string("Ardentis fleet ") + FleetCommandWord(req.command) + ": " +
              run.Setting() + ", DATA " + HexByte(req.bData) + ", run " + run.runId);
    if (!ToAnsiCodePage(req.name, &run.ansiName))
    {
        run.Say("NAME cannot be passed to Windows' firmware-variable calls: a character has no "
                "form in this PC's code page. Nothing was read.");
        run.End(kOutcomeRefused, kReasonBadArgument, 255);
    }
    else if ((lockResult = TakeFirmwareLock(&lock, &dwLockError, &pszLockName)) ==
             FirmwareLockResult::Busy)
    {
        run.Say("Another Ardentis program held the lock for 10 s: nothing was read or changed.");
        run.End(kOutcomeBusy, kReasonLockBusy,
                req.blHaveBusyCode ? static_cast<int32_t>(req.dwBusyCode) : 255);
        PrepareCentralLog(run);
    }
    else if (lockResult == FirmwareLockResult::NotCreated)
    {
        // Without the lock another program could write between this run's
        // read and its read back: nothing is read.
        ReleaseFirmwareLock(&lock);
        run.Say(std::string("The lock ") + pszLockName + " cannot be made, " +
                OsErrorText(dwLockError) + ": nothing was read or changed.");
        run.Fail(kReasonNoLock);
        PrepareCentralLog(run);
    }
    else
    {
        PrepareCentralLog(run);
        if (!run.blLogWritable && run.Changes())
            run.Fail(kReasonLogUnwritable);
        else
        {
            ReadIdentity(run);
            RunOnVariable(run);
        }
    }
    Record(run);
    ReleaseFirmwareLock(&lock);
    if (run.hJournalFolder != INVALID_HANDLE_VALUE)
        CloseHandle(run.hJournalFolder);

    if (req.blDetect)
    {
        if (run.outcome == kOutcomeHolds)
            WriteOut(run.Setting() + " holds " + HexByte(req.bData) + "\r\n");
        return 0;
    }
    RunSummary summary = Summarise(run);
    PrintLine(req.blJson ? FormatSummaryJson(summary) : FormatSummaryLine(summary));
    // The pilot's last line: the guard of this PC as it is, to paste.
    const std::string guard = req.blGuard ? FormatGuardLine(run.pc, req.bData) : "";
    if (!guard.empty())
        PrintLine(guard);
    return run.nExitCode;
}

// The .log files of a folder, by name, or the one file given.
int RunReport(const FleetRequest& req)
{
    std::vector<std::string> files;
    if (IsFolder(req.logFolder))
    {
        std::string folder = req.logFolder;
        if (folder.back() != '\\' && folder.back() != '/')
            folder += '\\';
        WIN32_FIND_DATAW found;
        HANDLE hFind = FindFirstFileW(Widen(folder + "*.log").c_str(), &found);
        if (hFind != INVALID_HANDLE_VALUE)
        {
            do
            {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    files.push_back(folder + Narrow(found.cFileName));
            } while (FindNextFileW(hFind, &found));
            FindClose(hFind);
        }
        std::sort(files.begin(), files.end());
    }
    else if (GetFileAttributesW(Widen(req.logFolder).c_str()) != INVALID_FILE_ATTRIBUTES)
        files.push_back(req.logFolder);
    else
    {
        WriteOut("report: " + req.logFolder + " is neither a folder nor a file.\r\n");
        return 255;
    }

    ReportInput input;
    for (const std::string& file : files)
    {
        std::string text;
        DWORD dwError = 0;
        if (!ReadWholeFile(file, &text, &dwError))
        {
            input.unreadableFiles.push_back(file + " (" + OsErrorText(dwError) + ")");
            continue;
        }
        AddLogFile(ReadLog(text), &input);
    }
    WriteOut(CrLf(req.blCsv ? FormatReportCsv(input) : FormatReportText(input)));
    return 0;
}

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(Narrow(argv[i]));
    return args;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& arg : args)
        pointers.push_back(arg.c_str());

    FleetRequest req;
    std::string error;
    if (!ParseFleetArgs(argc, pointers.data(), &req, &error))
    {
        RunSummary summary;
        summary.outcome = kOutcomeRefused;
        summary.nExitCode = 255;
        summary.reason = kReasonBadArgument;
        WriteOut(error + "\r\n" + CrLf(FleetUsageText()));
        WriteOut(FormatSummaryLine(summary) + "\r\n");
        return 255;
    }
    if (req.command == FleetCommand::Report)
        return RunReport(req);
    return RunByteCommand(req);
}
