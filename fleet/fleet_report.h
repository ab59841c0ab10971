// `report`: the central logs of a folder read back and summed up per setting
// (NAME GUID OFFSET DATA), each PC judged by its last run of that setting.
#pragma once

#include "fleet_records.h"

#include <string>
#include <vector>

struct ReportInput
{
    std::vector<LogEntry> entries; // in the order read: file by file, line by line
    size_t nUnreadableLines = 0;   // records that are not log entries (headers excluded)
    std::vector<std::string> unreadableFiles; // files that could not be read or were cut off
};

// A PC's last run of a setting is its entry with the latest time (ISO 8601
// UTC compares as text); on equal times the one read later. Settings are told
// apart by NAME exactly, GUID without regard to case, OFFSET and DATA by value.
// Text form: per setting a block with the number of PCs, then of PCs whose
// last run was CHANGED, UNCHANGED, UNDONE, HOLDS, READY, and FAILED,
// NOT-POSSIBLE and every other outcome with a line per reason, then the PCs
// whose last run failed (exit code other than 0 and 1) with their outcome and
// reason; the unreadable lines and files at the end.
std::string FormatReportText(const ReportInput& input);
// CSV (comma-separated, RFC 4180 quoting, CR LF) with the header
// name,guid,offset,data,outcome,reason,pcs,computers
// one row per setting, outcome and reason; computers joined by spaces.
std::string FormatReportCsv(const ReportInput& input);
