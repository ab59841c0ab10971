// The two passes over the command line, as pure functions: they decide, the
// driver acts. Nothing here prints or touches Windows.
#pragma once

#include "tool_settings.h"
#include "../common/arg_text.h"

#include <cstdint>

// 'A'..'F' and '1'..'9' only; '0', lower case and everything else give 0.
uint8_t HexDigitValue(char ch);

// Reads a hexadecimal number the way the C conversion "%<width>x" does:
// leading white space skipped, then at most nWidth characters (0 = no limit)
// of optional sign, optional 0x prefix and digits. Values wrap modulo 2^32;
// a leading '-' negates. Returns false (and leaves *pdwValue alone) when no
// digit is found.
bool ScanHex(const char* pszText, unsigned nWidth, uint32_t* pdwValue);

// Allocates the zero-filled, locked 1024-byte name block; returns its address
// (and the memory handle through phMem), or null when it cannot be had.
using NameBlockAllocator = uint8_t* (*)(void** phMem);

enum class FirstPassResult
{
    Ok,
    MissingFileName,      // "-savedef" and friends as the last argument
    NameBlockAllocFailed, // "-name" without "-uefi" and no memory
};

FirstPassResult RunFirstPass(int argc, const char* const* argv, ToolSettings& settings,
                             NameBlockAllocator pfnAllocNameBlock);

// "-name" without "-uefi": the value into the name block and its length into
// wNameLen; values longer than the block's 1024 bytes are cut to 1024.
void StoreNameBlock(ToolSettings& settings, const char* pszValue);

// "-guid" without "-uefi": text padded to an even length, upper-cased and
// converted pairwise into abGuid (at most 255 characters are kept).
void ConvertGuidText(ToolSettings& settings, const char* pszValue);

enum class ActionKind
{
    Usage,      // help switch, or no command at all
    ActMissing, // "-act" as the last argument: exit -1
    ActInvalid, // "-act" value not 0x00, 0x01, 0xFF: exit -1
    SetvarMissingArgs,
    Setvar,
    GetvarMissingFile,
    Getvar,
    Delvar,
};

struct SecondPassAction
{
    ActionKind kind = ActionKind::Usage;
    int32_t nOffset = 0;           // Setvar
    uint8_t bData = 0;             // Setvar
    const char* pszFile = nullptr; // Getvar
};

// The first help switch or command decides; writes bActPolicy on the way.
SecondPassAction RunSecondPass(int argc, const char* const* argv, ToolSettings& settings);
