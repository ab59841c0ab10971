// `report`: the central logs of a folder read back and summed up per setting
// (NAME GUID OFFSET DATA), each PC judged by its last run of that setting.
#pragma once

#include "fleet_records.h"

#include <string>
#include <vector>

struct ReportInput
{
    std::vector<LogEntry> entries; // in the order read: file by file, line by line
    // The file each entry was read from, by index; entries beyond its end
    // count as one file of their own.
    std::vector<size_t> entryFiles;
    size_t nFiles = 0;                        // files added by AddLogFile
    size_t nUnreadableLines = 0;              // damaged records (headers are none)
    std::vector<std::string> unreadableFiles; // files that could not be read
};

// Adds a log file as ReadLog read it, as the next file.
void AddLogFile(const LogContents& log, ReportInput* pInput);

// A PC's last run of a setting is its last entry in the file it was appended
// to, whatever its time (a clock reset before time sync must not hide a later
// run). Between files, times decide: of the PC's last entries in each file,
// the one with the latest time (ISO 8601 UTC compares as text); on equal
// times the one read later. Settings are told
// apart by NAME exactly, GUID without regard to case, OFFSET and DATA by value.
// OFFSET and DATA are read as hexadecimal of either case with any leading
// zeros; text that is no such number is compared as it is. Computers are
// told apart without regard to ASCII case.
// A run failed when its outcome word (upper-cased) is none of CHANGED,
// UNCHANGED, UNDONE, HOLDS and READY: BUSY or FAILED fail whatever the exit
// code, CHANGED with a --reboot-code exit code does not.
// Settings come in the order first seen; PCs sorted by their lower-case name.
// Text form: per setting a block with the number of PCs, then of PCs whose
// last run was CHANGED, UNCHANGED, UNDONE, HOLDS, READY, FAILED and
// NOT-POSSIBLE (0 included) and every other outcome seen (alphabetically);
// under each failure outcome a line per reason ("(no reason)" for an empty
// one), under a success one per reason given; then the PCs by the model and
// firmware version their last run recorded, a line for each pair,
//     model "Model A", firmware "1.5": 37 FAILED OTHER-FIRMWARE, 2 UNCHANGED
// sorted by model, then firmware version, byte by byte, "unknown" (an empty
// field, and every line of a log written before the fields) after the known,
// with the counts by outcome and reason in the order above; then the PCs
// whose last run failed with their outcome, reason, exit code, command and
// time; the unreadable lines and files at the end. Control characters show
// as '?'.
std::string FormatReportText(const ReportInput& input);
// CSV (comma-separated, RFC 4180 quoting, CR LF) with the header
// name,guid,offset,data,model,firmware,outcome,reason,pcs,computers
// one row per setting, model and firmware version (empty cells when
// unknown), outcome and reason that has PCs, in the text form's order
// (reasons alphabetically); computers (as in their last run) joined by
// spaces. Any PC can write the logs: a cell that begins with '=',
// '+', '-', '@', a tab or a CR, which a spreadsheet would take for a formula,
// begins with '\'' instead. The unreadable lines and files are not in the CSV.
std::string FormatReportCsv(const ReportInput& input);
