// Firmware functions, named by four upper-case letters read as a big-endian
// number ("FLSH" is 0x464C5348), with the function number each selects and
// what the SMI transport writes into the mailbox for it. The function numbers
// are the same over every transport.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t MakeFunctionCode(const char (&sz)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(sz[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(sz[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(sz[2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(sz[3]));
}

enum FlashFunctionCode : uint32_t
{
    FLSH = MakeFunctionCode("FLSH"),
    FINI = MakeFunctionCode("FINI"),
    FERS = MakeFunctionCode("FERS"),
    FWRI = MakeFunctionCode("FWRI"),
    FWRP = MakeFunctionCode("FWRP"),
    FEBW = MakeFunctionCode("FEBW"),
    FEBR = MakeFunctionCode("FEBR"),
    FEDW = MakeFunctionCode("FEDW"),
    ECSR = MakeFunctionCode("ECSR"),
    GDMI = MakeFunctionCode("GDMI"),
    FLSC = MakeFunctionCode("FLSC"),
    OEMD = MakeFunctionCode("OEMD"),
};
static_assert(FLSH == 0x464C5348, "first letter in the most significant byte");

// Function numbers as the firmware sees them in FSFN (or the WMI SubFunction).
constexpr uint8_t kFnFlsh = 0, kFnFini = 1, kFnFers = 2, kFnWrite = 3, kFnFebw = 4, kFnFebr = 5,
                  kFnFedw = 6, kFnEcsr = 7, kFnFlsc = 8, kFnOemData = 0x81;

constexpr uint16_t kBusyMarker = 0xAA;

enum MailboxField : uint8_t
{
    MAILBOX_FSFN, // 8 bits
    MAILBOX_FSTA, // 16 bits
    MAILBOX_FADR, // 32 bits
    MAILBOX_FSIZ, // 16 bits
};

// One mailbox write of a function's setup, verified by reading it back at the
// same width.
struct MailboxWrite
{
    uint8_t bField;     // MailboxField
    uint8_t cbWidth;    // 1, 2 or 4
    bool blArgument;    // the call's argument (low bits for narrow fields) ...
    uint16_t wConstant; // ... or this constant
};

struct FlashFunctionInfo
{
    uint32_t dwCode;
    uint8_t bFunction;
    bool blSmi;        // CallFlashSmi accepts it
    bool blBusyMarker; // the setup ends with FSTA := 0xAA
    uint8_t cWrites;
    MailboxWrite aWrites[4];
};

// The row of dwCode, or null for a code that is not in the table.
const FlashFunctionInfo* FindFlashFunction(uint32_t dwCode);
