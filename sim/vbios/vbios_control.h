// The virtual BIOS's control surface, shared by the hardware access DLL and
// the tests that drive it: knobs, the machine layout, and the record of what
// the firmware received. Plain C types, the same for both architectures.
#pragma once

#include <stdint.h>

#ifdef _WIN32
#define VB_API __stdcall
#else
#define VB_API
#endif

// What was recorded, in the order it happened.
enum VbEventKind
{
    VBEV_MAILBOX_WRITE = 1, // A field (VbField), B width, C value written, D offset in mailbox
    VBEV_MEM_WRITE,         // a write outside every region: A address, B width, C value
    VBEV_IO_WRITE,          // a port write that raises nothing: A port, B value
    VBEV_SMI,               // A port, B command byte, C FSFN at that moment
    VBEV_CALL,              // A function, B word param, C dword param, D length param,
                            // E result (VB_NO_ANSWER when the firmware did not complete);
                            // payload: the first bytes of the transfer buffer on entry
    VBEV_ALLOC,             // A physical address, B size, C..F the four placement arguments
    VBEV_FREE,              // A physical address, B 1 when freed
    VBEV_MAP,               // A physical address, B length, C 1 when mapped
    VBEV_UNMAP,             // A 1 when the handle was known
};

enum VbField
{
    VBF_FSFN = 0,
    VBF_FSTA = 1,
    VBF_FADR = 2,
    VBF_FSIZ = 3,
    VBF_OTHER = 0xFF,
};

#define VB_NO_ANSWER 0xFFFFFFFFu
#define VB_PAYLOAD_SNAPSHOT 128

struct VbEvent
{
    uint32_t dwKind;
    uint32_t dwA, dwB, dwC, dwD, dwE, dwF;
    uint32_t cbPayload;
    uint8_t abPayload[VB_PAYLOAD_SNAPSHOT];
};

enum VbKnob
{
    // Firmware model. -1 stands for the natural behaviour where it applies.
    VBK_POWER_SAFE = 1,  // 1 (default): power is safe for flashing
    VBK_FINI_RESULT,     // FINI's result word
    VBK_REPLY_SIGNATURE, // 0: never write "_$$_", 1: always, -1: when FINI succeeds (legacy header)
    VBK_AUTO_REPLY_RECORD, // 1 (default): leave a reply record when a password or power needs it
    VBK_FLSH_RESULT,       // what FLSH leaves in FSTA (natural: 0)
    VBK_ECSR_RESULT,
    VBK_FLSC0_RESULT,
    VBK_FLSC1_RESULT,
    VBK_FEBW_RESULT,
    VBK_FEDW_RESULT,
    VBK_NEVER_ANSWER_FN, // function number whose calls never complete; 0x100: all; -1 none
    VBK_PASSWORD_MAX,    // password characters the firmware takes (FLSC 0 low byte)

    // Hardware access face.
    VBK_BUSY_READS = 100, // FSTA reads 0xAA this many times after an SMI before the result
    VBK_STUCK_FIELD,      // VbField whose writes lose bit 0; -1 none
    VBK_STUCK_AFTER_SMIS, // ... starting after this many SMIs
    VBK_MAP_FAILS,
    VBK_ALLOC_FAILS,
    VBK_FREE_FAILS, // FreePhysBuf returns false and keeps the buffer

    // Counters, read only.
    VBK_FSTA_READS = 200, // FSTA reads since the last reset
    VBK_OUTSTANDING_BUFFERS,
    VBK_OUTSTANDING_MAPPINGS,
    VBK_SMI_COUNT,
    VBK_FAILED_PASSWORDS,
    VBK_OEM_SETTING, // last value set with OEM data kind 1
};

// Where the firmware publishes its mailbox, and where the mailbox lies.
struct VbLayout
{
    uint32_t dwExtfOffset; // in the F000h segment
    uint32_t bExtfVersion;
    uint32_t wDescriptorOffset;
    uint32_t dwTableAddr;
    uint32_t wSmiPort;
    uint32_t bSmiCommand;
    uint32_t bOffsetFADR;
    uint32_t bOffsetFSIZ;
    uint32_t bOffsetFSTA;
    uint32_t bOffsetFSFN;
};

// Control entry points of the DLL (besides the hardware access ones).
typedef void(VB_API* PFN_VB_RESET)(void);
typedef void(VB_API* PFN_VB_SET_KNOB)(uint32_t dwKnob, int32_t nValue);
typedef int32_t(VB_API* PFN_VB_GET_KNOB)(uint32_t dwKnob);
typedef void(VB_API* PFN_VB_SET_LAYOUT)(const struct VbLayout* pLayout);
typedef void(VB_API* PFN_VB_GET_LAYOUT)(struct VbLayout* pLayout);
typedef void(VB_API* PFN_VB_WRITE_SEGMENT)(uint32_t dwOffset, const uint8_t* pData,
                                           uint32_t cbData);
typedef void(VB_API* PFN_VB_SET_BLOCK)(uint32_t dwBlock, const uint8_t* pData, uint32_t cbData,
                                       uint32_t dwReportedSize);
typedef void(VB_API* PFN_VB_REMOVE_BLOCK)(uint32_t dwBlock);
typedef uint32_t(VB_API* PFN_VB_GET_BLOCK)(uint32_t dwBlock, uint8_t* pData, uint32_t cbData);
typedef void(VB_API* PFN_VB_SET_PASSWORD)(const char* pszPassword);
typedef void(VB_API* PFN_VB_ADD_FINI_PATCH)(uint32_t dwOffset, const uint8_t* pData,
                                            uint32_t cbData);
typedef void(VB_API* PFN_VB_SET_OEM_DATA)(const uint8_t* pData, uint32_t cbData);
typedef uint32_t(VB_API* PFN_VB_GET_OEM_DATA)(uint8_t* pData, uint32_t cbData);
typedef uint32_t(VB_API* PFN_VB_EVENT_COUNT)(void);
typedef int(VB_API* PFN_VB_GET_EVENT)(uint32_t dwIndex, struct VbEvent* pEvent);
typedef void(VB_API* PFN_VB_CLEAR_EVENTS)(void);
