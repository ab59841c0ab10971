#include "fleet_report.h"

#include "fleet_args.h"
#include "fleet_outcomes.h"

#include <cstdint>
#include <map>
#include <tuple>

namespace
{

std::string AsciiLower(std::string text)
{
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

std::string AsciiUpper(std::string text)
{
    for (char& ch : text)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    return text;
}

// OFFSET or DATA as its value's canonical text ("001a" and "1A" alike);
// text that is no such number stays as it is.
std::string CanonicalHex(const std::string& text, bool blByte)
{
    const size_t nFirst = text.find_first_not_of('0');
    const std::string digits =
        nFirst == std::string::npos ? (text.empty() ? text : "0") : text.substr(nFirst);
    uint32_t dwValue = 0;
    if (!ParseHexField(digits, blByte ? 2 : 8, &dwValue))
        return text;
    return blByte ? HexByte(static_cast<uint8_t>(dwValue)) : HexOffset(dwValue);
}

bool IsSuccess(const std::string& outcome)
{
    for (const char* pszWord :
         {kOutcomeChanged, kOutcomeUnchanged, kOutcomeUndone, kOutcomeHolds, kOutcomeReady})
        if (outcome == pszWord)
            return true;
    return false;
}

// Reasons -> the PCs' display names, sorted by their lower-case names.
using ReasonPcs = std::map<std::string, std::vector<std::string>>;
// Upper-case outcome word -> reasons.
using OutcomePcs = std::map<std::string, ReasonPcs>;

// A PC's model and firmware version as its last run recorded them, in report
// order: by model, then firmware version, an unknown one ("") after the known.
using Identity = std::tuple<bool, std::string, bool, std::string>;

Identity IdentityOf(const LogEntry& entry)
{
    return {entry[kLogModel].empty(), entry[kLogModel], entry[kLogFirmware].empty(),
            entry[kLogFirmware]};
}

struct Setting
{
    std::string name, guid, offset, data;  // as shown: the first entry's, canonical numbers
    std::map<std::string, size_t> lastRun; // lower-case computer name -> entry index
    // lower-case computer name -> file -> its last entry there
    std::map<std::string, std::map<size_t, size_t>> lastInFile;
    OutcomePcs byOutcome;
    std::map<Identity, OutcomePcs> byIdentity;
};

struct Report
{
    std::vector<Setting> settings; // in the order first seen
    size_t nPcs = 0;
};

std::string OutcomeOf(const LogEntry& entry)
{
    const std::string outcome = AsciiUpper(entry[kLogOutcome]);
    return outcome.empty() ? "(none)" : outcome;
}

std::string ComputerOf(const LogEntry& entry)
{
    return entry[kLogComputer].empty() ? "(unnamed)" : entry[kLogComputer];
}

Report BuildReport(const ReportInput& input)
{
    Report report;
    std::map<std::string, size_t> settingIndex;
    for (size_t i = 0; i < input.entries.size(); ++i)
    {
        const LogEntry& entry = input.entries[i];
        const std::string offset = CanonicalHex(entry[kLogOffset], false);
        const std::string data = CanonicalHex(entry[kLogData], true);
        std::string key = entry[kLogName];
        key += '\0' + AsciiLower(entry[kLogGuid]) + '\0' + offset + '\0' + data;
        auto found = settingIndex.find(key);
        if (found == settingIndex.end())
        {
            found = settingIndex.emplace(key, report.settings.size()).first;
            report.settings.push_back(Setting());
            Setting& added = report.settings.back();
            added.name = entry[kLogName];
            added.guid = entry[kLogGuid];
            added.offset = offset;
            added.data = data;
        }
        Setting& setting = report.settings[found->second];
        const size_t nFile = i < input.entryFiles.size() ? input.entryFiles[i] : SIZE_MAX;
        setting.lastInFile[AsciiLower(entry[kLogComputer])][nFile] = i;
    }
    for (Setting& setting : report.settings)
    {
        // Between files the latest time wins; on equal times the entry read later.
        for (const auto& pc : setting.lastInFile)
        {
            size_t nLast = pc.second.begin()->second;
            for (const auto& file : pc.second)
            {
                const std::string& time = input.entries[file.second][kLogTime];
                const std::string& lastTime = input.entries[nLast][kLogTime];
                if (time > lastTime || (time == lastTime && file.second > nLast))
                    nLast = file.second;
            }
            setting.lastRun[pc.first] = nLast;
        }
        report.nPcs += setting.lastRun.size();
        for (const auto& pc : setting.lastRun)
        {
            const LogEntry& entry = input.entries[pc.second];
            setting.byOutcome[OutcomeOf(entry)][entry[kLogReason]].push_back(ComputerOf(entry));
            setting.byIdentity[IdentityOf(entry)][OutcomeOf(entry)][entry[kLogReason]].push_back(
                ComputerOf(entry));
        }
    }
    return report;
}

// Text as the report shows it: control characters as '?', one line.
std::string Shown(const std::string& text)
{
    std::string shown = text;
    for (char& ch : shown)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            ch = '?';
    return shown;
}

size_t CountPcs(const ReasonPcs& reasons)
{
    size_t n = 0;
    for (const auto& reason : reasons)
        n += reason.second.size();
    return n;
}

std::string CountLine(const std::string& indent, const std::string& word, size_t n)
{
    // The word left-aligned in 16 columns, the number right-aligned in 7.
    const std::string number = std::to_string(n);
    std::string line = indent + Shown(word);
    line +=
        std::string(line.size() < indent.size() + 16 ? indent.size() + 16 - line.size() : 0, ' ');
    line += std::string(number.size() < 7 ? 7 - number.size() : 1, ' ');
    return line + number + "\n";
}

// The outcomes in report order: the successes and the two usual failures
// always, then every other outcome seen, alphabetically.
std::vector<std::string> OutcomeOrder(const Setting& setting)
{
    std::vector<std::string> order = {kOutcomeChanged,    kOutcomeUnchanged, kOutcomeUndone,
                                      kOutcomeHolds,      kOutcomeReady,     kOutcomeFailed,
                                      kOutcomeNotPossible};
    for (const auto& outcome : setting.byOutcome)
        if (IsSuccess(outcome.first) == false && outcome.first != kOutcomeFailed &&
            outcome.first != kOutcomeNotPossible)
            order.push_back(outcome.first);
    return order;
}

std::string ReasonShown(const std::string& reason)
{
    return reason.empty() ? "(no reason)" : reason;
}

// "model "M", firmware "F": 400 CHANGED, 37 FAILED OTHER-FIRMWARE"
std::string IdentityLine(const Setting& setting, const Identity& identity,
                         const OutcomePcs& outcomes)
{
    const std::string& model = std::get<1>(identity);
    const std::string& firmware = std::get<3>(identity);
    std::string line = "    model " + (model.empty() ? "unknown" : "\"" + Shown(model) + "\"") +
                       ", firmware " +
                       (firmware.empty() ? "unknown" : "\"" + Shown(firmware) + "\"") + ":";
    const char* pszSeparator = " ";
    for (const std::string& outcome : OutcomeOrder(setting))
    {
        const auto found = outcomes.find(outcome);
        if (found == outcomes.end())
            continue;
        for (const auto& reason : found->second)
        {
            line += pszSeparator + std::to_string(reason.second.size()) + " " + Shown(outcome);
            if (!IsSuccess(outcome) || !reason.first.empty())
                line += " " + Shown(ReasonShown(reason.first));
            pszSeparator = ", ";
        }
    }
    return line + "\n";
}

// A cell as text a spreadsheet shows, never runs: one that would start a
// formula gets a leading '\''.
std::string CsvField(const std::string& cell)
{
    const std::string field =
        !cell.empty() && std::string("=+-@\t\r").find(cell[0]) != std::string::npos ? "'" + cell
                                                                                    : cell;
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (char ch : field)
    {
        if (ch == '"')
            quoted += '"';
        quoted += ch;
    }
    return quoted + "\"";
}

} // namespace

std::string FormatReportText(const ReportInput& input)
{
    const Report report = BuildReport(input);
    std::string text = "Ardentis fleet report: " + std::to_string(input.entries.size()) +
                       " runs read, " + std::to_string(report.settings.size()) +
                       (report.settings.size() == 1 ? " setting" : " settings") +
                       "; each PC is judged by its last run of a setting.\n";
    if (report.settings.empty())
        text += "\nNo runs found.\n";
    for (const Setting& setting : report.settings)
    {
        text += "\nSetting NAME " + Shown(setting.name) + " GUID " + Shown(setting.guid) +
                " OFFSET " + Shown(setting.offset) + " DATA " + Shown(setting.data) + "\n";
        text += CountLine("  ", "PCs", setting.lastRun.size());
        for (const std::string& outcome : OutcomeOrder(setting))
        {
            const auto found = setting.byOutcome.find(outcome);
            if (found == setting.byOutcome.end())
            {
                text += CountLine("  ", outcome, 0);
                continue;
            }
            text += CountLine("  ", outcome, CountPcs(found->second));
            // Reasons of failures always; of successes when one is given.
            for (const auto& reason : found->second)
                if (!IsSuccess(outcome) || !reason.first.empty())
                    text += CountLine("      ", ReasonShown(reason.first), reason.second.size());
        }
        text += "  By model and firmware version:\n";
        for (const auto& identity : setting.byIdentity)
            text += IdentityLine(setting, identity.first, identity.second);
        std::string failed;
        size_t nFailed = 0;
        for (const auto& pc : setting.lastRun)
        {
            const LogEntry& entry = input.entries[pc.second];
            if (IsSuccess(OutcomeOf(entry)))
                continue;
            ++nFailed;
            failed += "    " + Shown(ComputerOf(entry)) + "  " + Shown(OutcomeOf(entry)) + " " +
                      Shown(ReasonShown(entry[kLogReason])) + "  exit " +
                      Shown(entry[kLogExitCode]) + "  " + Shown(entry[kLogCommand]) + " " +
                      Shown(entry[kLogTime]) + "\n";
        }
        text += "  PCs whose last run failed: " + std::to_string(nFailed) + "\n" + failed;
    }
    if (input.nUnreadableLines != 0 || !input.unreadableFiles.empty())
    {
        text += "\nLines that are no log entries: " + std::to_string(input.nUnreadableLines) +
                "\nFiles that could not be read: " + std::to_string(input.unreadableFiles.size()) +
                "\n";
        for (const std::string& file : input.unreadableFiles)
            text += "    " + Shown(file) + "\n";
    }
    return text;
}

std::string FormatReportCsv(const ReportInput& input)
{
    const Report report = BuildReport(input);
    std::string csv = "name,guid,offset,data,model,firmware,outcome,reason,pcs,computers\r\n";
    for (const Setting& setting : report.settings)
    {
        for (const auto& identity : setting.byIdentity)
        {
            const std::string cells = CsvField(setting.name) + "," + CsvField(setting.guid) + "," +
                                      CsvField(setting.offset) + "," + CsvField(setting.data) +
                                      "," + CsvField(std::get<1>(identity.first)) + "," +
                                      CsvField(std::get<3>(identity.first)) + ",";
            for (const std::string& outcome : OutcomeOrder(setting))
            {
                const auto found = identity.second.find(outcome);
                if (found == identity.second.end())
                    continue;
                for (const auto& reason : found->second)
                {
                    std::string computers;
                    for (const std::string& computer : reason.second)
                        computers += (computers.empty() ? "" : " ") + computer;
                    csv += cells + CsvField(outcome) + "," + CsvField(reason.first) + "," +
                           std::to_string(reason.second.size()) + "," + CsvField(computers) +
                           "\r\n";
                }
            }
        }
    }
    return csv;
}

void AddLogFile(const LogContents& log, ReportInput* pInput)
{
    for (const LogEntry& entry : log.entries)
    {
        pInput->entries.push_back(entry);
        pInput->entryFiles.push_back(pInput->nFiles);
    }
    pInput->nUnreadableLines += log.damaged.size();
    ++pInput->nFiles;
}
