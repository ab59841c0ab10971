// The firmware's flash-update protocol as it stands in the 4096-byte transfer
// buffer, shared by every transport: the FINI request header (access/), the
// reply signature and reply record with its error info, the password block, and
// how the operations judge what the firmware answered. Pure logic.
#pragma once

#include "access/fini_request.h"

#include <cstddef>
#include <cstdint>

// Error flags of ReadBlock and WriteBlock: one bit per failed step.
constexpr uint32_t FLASHERR_ALLOC = 0x001;
constexpr uint32_t FLASHERR_FREE = 0x002;
constexpr uint32_t FLASHERR_FLSH = 0x004;
constexpr uint32_t FLASHERR_ECSR = 0x008;
constexpr uint32_t FLASHERR_FINI = 0x010;
constexpr uint32_t FLASHERR_FEBR = 0x020;
constexpr uint32_t FLASHERR_POWER = 0x040;
constexpr uint32_t FLASHERR_BUFFER = 0x080;
constexpr uint32_t FLASHERR_FEBW = 0x100;
constexpr uint32_t FLASHERR_FEDW = 0x200;
constexpr uint32_t FLASHERR_NO_SMI_TABLE = 0x400;

// The name of one error flag, as an owner prints it ("FLASHERR_FINI");
// "unknown" for any other value, a word with several bits included.
const char* FlashErrorName(uint32_t dwFlag);

// Kinds of the OEM data exchange.
constexpr uint8_t OEMDATA_QUERY = 0;
constexpr uint8_t OEMDATA_SET = 1;
constexpr uint8_t OEMDATA_WRITE = 2;
constexpr uint8_t OEMDATA_READ = 3;

constexpr size_t kTransferBufferSize = 4096;
constexpr uint16_t kNoSuchBlock = 0xFFFF; // FEBR's size for a missing block

#pragma pack(push, 1)
// Left by the firmware anywhere in the buffer after FINI.
struct FiniReplyRecord
{
    uint32_t dwTag;             // the FINI code, little-endian: "INIF"
    uint8_t bFlags;             // bit 0: the firmware asks for the password step
    uint32_t dwErrorInfoOffset; // from the buffer start; 0 = none
};
#pragma pack(pop)
static_assert(sizeof(FiniReplyRecord) == 9, "reply record is 9 bytes");
static_assert(offsetof(FiniReplyRecord, bFlags) == 4, "");
static_assert(offsetof(FiniReplyRecord, dwErrorInfoOffset) == 5, "");

constexpr uint32_t kFiniReplyTag = 0x46494E49;
constexpr uint8_t kReplyNeedCheckFlsc = 0x01;
constexpr size_t kReplySignatureOffset = 32; // "_$$_" right behind the header
constexpr size_t kErrorTextMax = 100;

bool HasReplySignature(const uint8_t* pBuf, size_t cbBuf);

// The first record whose tag stands at offset 0 .. 4092 and whose nine bytes
// lie inside the buffer. False when there is none.
bool FindFiniReplyRecord(const uint8_t* pBuf, size_t cbBuf, size_t* pnOffset,
                         FiniReplyRecord* pRecord);

struct FiniErrorInfo
{
    uint32_t dwReason;
    char szText[kErrorTextMax + 1]; // up to the '$', at most 100 characters
};

// Reads the reason code and the text at dwOffset. The text stops at the '$',
// after 100 characters or at the buffer end, whichever comes first. False
// when the reason code itself does not lie inside the buffer.
bool ReadFiniErrorInfo(const uint8_t* pBuf, size_t cbBuf, uint32_t dwOffset, FiniErrorInfo* pInfo);

// What WriteBlock makes of the buffer after FINI: the first reply record,
// whether it asks for the password step, and the reason code of its error
// info. Error info that does not lie inside the buffer cannot be judged;
// since the firmware pointed at a problem, the write is then refused (reason
// 0xFFFFFFFF, empty text).
struct FiniReplyJudgement
{
    bool blNeedCheck = false; // run FLSC 0 (the record's flag bit 0)
    bool blPass = true;       // false: power not safe (reason 1 or dwAllowedReason)
    bool blRefuse = false;    // any other reason of 2 or above
    uint32_t dwErrorInfoOffset = 0;
    FiniErrorInfo info = {};
};

FiniReplyJudgement JudgeFiniReply(const uint8_t* pBuf, size_t cbBuf, uint32_t dwAllowedReason);

enum class FiniVerdict
{
    Accept,
    AcceptPowerUnsafe, // result 4 let through by dwNoCheckPower == 1
    RefuseVer20,
    Refuse,
};

// m is 1 when the reply signature is absent, 0 when present.
FiniVerdict JudgeFiniResult(uint32_t dwResult, bool blVer20, bool blSignature,
                            uint32_t dwNoCheckPower);

enum class ReasonVerdict
{
    Pass,
    PowerUnsafe, // reason 1, or the owner's dwAllowedReason
    Refuse,
};

ReasonVerdict JudgeReasonCode(uint32_t dwReason, uint32_t dwAllowedReason);

// Password block: 0, the first n characters of the password (n = the smaller
// of its length within its field and bMaxLen), 0. Returns the bytes written,
// 0 when the buffer is too small.
size_t BuildPasswordBlock(uint8_t* pBuf, size_t cbBuf, const char* pszPassword, size_t cchField,
                          uint8_t bMaxLen);

constexpr uint32_t kFlscPasswordWanted = 0x8000;

// Formats the text for a refused FLSC 1 result into pszMessage and returns the
// ReturnCode of the debug line.
int FormatFlscMessage(uint32_t dwResult, char* pszMessage, size_t cchMessage);
