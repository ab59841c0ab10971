// The fleet program's command line, parsed strictly and without side effects:
// a typing error is refused before anything is read, so it never reaches the
// firmware. Text is UTF-8 (the program converts its wide arguments first).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FleetCommand
{
    None,
    Check,
    Set,
    Undo,
    Report,
};

struct FleetRequest
{
    FleetCommand command = FleetCommand::None;
    // check / set / undo: NAME GUID OFFSET DATA
    std::string name;              // as given, never empty
    std::string guid;              // as given: {8-4-4-4-12} hexadecimal digits of either case
    uint32_t dwOffset = 0;         // OFFSET: 1 to 8 hexadecimal digits
    uint8_t bData = 0;             // DATA: 1 or 2 hexadecimal digits
    std::string logPath;           // --log PATH; empty: the journal alone records the run
    bool blForce = false;          // set, undo
    bool blDetect = false;         // check
    bool blJson = false;           // check, set, undo
    bool blHaveRebootCode = false; // set, undo: --reboot-code N
    uint32_t dwRebootCode = 0;
    bool blHaveBusyCode = false; // check, set, undo: --busy-code N
    uint32_t dwBusyCode = 0;
    // check, set, undo: the guards, each holding or the run ends before any
    // write (fleet_guard.h judges them); each option's value is set with its
    // blHave... below.
    std::string modelPattern;       // --model TEXT: never empty
    std::string firmwarePattern;    // --firmware TEXT: never empty
    std::vector<uint8_t> wasValues; // --was XX[,YY...]: never empty, as given (repeats, DATA)
    uint32_t dwSize = 0;            // --size N: 1 to kMaxGuardSize
    bool blHaveModel = false;
    bool blHaveFirmware = false;
    bool blHaveSize = false;
    bool blHaveWas = false;
    // report LOGFOLDER
    std::string logFolder;
    bool blCsv = false;
    bool blGuard = false; // check --guard: end with the guard line of this PC
};

// The largest --size: the most the program reads of a variable (4 MiB).
constexpr uint32_t kMaxGuardSize = 4194304;

// argv is main's: argv[0] is the program and is not looked at. The command is
// argv[1] (compared without regard to ASCII case), then its positional
// arguments and options in any order. Options start with
// "--", are compared without regard to ASCII case, and may each be given
// once; an option that does not belong to the command is refused. Codes for
// --reboot-code and --busy-code are decimal, 1 to 2147483647, digits only
// and without leading zeros; --size likewise, 1 to kMaxGuardSize. --was is a
// list of 1 or 2 hexadecimal digits each, separated by ',' alone (no spaces,
// no empty item). An option's value may not start with "--" (a forgotten
// value would swallow the next option); --log's, --model's and --firmware's
// may not be empty. --guard goes with neither --detect nor --json: both end
// the output with a line of their own. Every argument that does not start
// with "--" is positional.
// On refusal: false, and *pError holds one line (no line end) naming the
// argument and the rule, for example
//   "OFFSET must be 1 to 8 hexadecimal digits, not [12G]".
// The quoted argument shows control characters as '?' and is cut after 80
// bytes. *pRequest is reset first; on refusal its fields mean nothing.
bool ParseFleetArgs(int argc, const char* const* argv, FleetRequest* pRequest, std::string* pError);

// "check", "set", "undo", "report"; "" for None.
const char* FleetCommandWord(FleetCommand command);

// The usage text, lines ending in "\n".
const char* FleetUsageText();

// Strict forms, shared with the record readers.
// 1..cchMax (at most 8) hexadecimal digits of either case, nothing else.
bool ParseHexField(const std::string& text, size_t cchMax, uint32_t* pdwValue);
// Strictly decimal 1 to dwMax: digits only, no sign, no leading zero.
bool ParseDecimal(const std::string& text, uint32_t dwMax, uint32_t* pdwValue);
bool IsBracedGuidText(const std::string& text);
// Two upper-case hexadecimal digits; OFFSET as upper-case digits without
// leading zeros ("1A", "0").
std::string HexByte(uint8_t b);
std::string HexOffset(uint32_t dwOffset);
