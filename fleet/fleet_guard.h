// The guards of check, set and undo: an offset means a setting only in one
// firmware's layout, so a run may be bound to the PC's model, its firmware
// version, the variable's size and the byte's value before it, as a pilot
// found them. Pure: builds natively for the sanitizers and the fuzzer.
#pragma once

#include "fleet_args.h"

#include <cstdint>
#include <string>

// This PC as the run found it.
struct PcFacts
{
    std::string model;       // the system's product name; "" when unknown
    std::string firmware;    // the firmware's version; "" when unknown
    bool blHaveSize = false; // the variable was read
    uint32_t dwSize = 0;
    bool blHaveByte = false; // OFFSET lies inside the variable
    uint8_t bByte = 0;       // the byte at OFFSET as read before the run
};

enum class GuardKind
{
    None, // every guard given holds
    Model,
    Firmware,
    Size,
    Value,
};

struct GuardVerdict
{
    GuardKind failed = GuardKind::None; // the first guard that does not hold
    const char* pszReason = "";         // its reason word (OTHER-MODEL, ...); "" when none
    // One sentence, full stop included, naming what the guard asked for and
    // what this PC has ("unknown" where it is not known).
    std::string message;
};

// Whether value matches pattern: ASCII letters compare without regard to
// case, other bytes exactly; '*' matches any run of bytes, the empty one
// included; nothing else is special. An empty value (unknown) matches only
// a pattern of '*' alone. Time at most proportional to the product of the
// two lengths, whatever they hold (no backtracking beyond the last '*').
bool MatchesPattern(const std::string& pattern, const std::string& value);

// The request's guards judged against this PC in the order model, firmware,
// size, value; the first that does not hold is returned. --size is judged
// only when the size is known, --was only when the byte is (without them the
// variable was not read, or OFFSET lies outside it, and nothing can be
// written). --was holds when the byte is DATA or one of its values, for
// check, set and undo alike.
GuardVerdict JudgeGuards(const FleetRequest& request, const PcFacts& pc);

// An undo's old value belongs to the layout of the firmware it was read
// under: the firmware version recorded with the change (recorded) must be
// this PC's now (exactly), or the verdict is Firmware with OTHER-FIRMWARE.
// A change recorded without one (by an earlier version) holds; one recorded
// with a version while this PC's is unknown now does not.
GuardVerdict JudgeUndoFirmware(const std::string& recorded, const std::string& now);

// The guard options that describe this PC, ready to paste after a set's
// arguments in cmd.exe or PowerShell, with no line end:
//   --model "M" --firmware "F" --size N --was XX
// An unknown model or firmware version, a size that is unknown or beyond
// --size's range, and a byte that is unknown or already DATA (so that the
// old value is not known: --was DATA would hold nowhere the byte is to be
// changed) leave their option out; "" when nothing is known. In the values,
// every byte that is not safe inside a double-quoted argument of cmd.exe and
// PowerShell ('"', '%', '!', '$', '`', control characters, bytes outside
// ASCII, and backslashes before the closing quote) becomes '*', runs of '*'
// become one, and a leading "--" becomes "*-" (a value may not start with
// "--"): each option still matches this PC.
std::string FormatGuardLine(const PcFacts& pc, uint8_t bData);
