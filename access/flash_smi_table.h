// Where the BIOS publishes its flash SMI mailbox: the EXTF structure in the
// F000h segment and the 13-byte descriptor it points to. Pure logic over a
// byte image of the segment, so it can be checked natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kBiosSegmentPhys = 0xF0000;
constexpr uint32_t kBiosSegmentSize = 0x10000;

// EXTF structure: 18 bytes at a 4-byte aligned offset in the segment.
constexpr uint32_t kExtfSignature = 0x46545845; // "EXTF" read little-endian
constexpr size_t kExtfSize = 18;
constexpr size_t kExtfVersionOffset = 7;
constexpr size_t kExtfDescriptorOffset = 8; // u16 offset of the descriptor in the segment
constexpr uint8_t kExtfVersion20 = 0x20;

#pragma pack(push, 1)
// The mailbox descriptor ("Flash_SMI_Table"), copied byte for byte.
struct FlashSmiTableInfo
{
    uint32_t dwTableAddr; // physical address of the mailbox
    uint16_t wSmiPort;
    uint8_t bSmiCommand;
    uint8_t abReserved[2];
    uint8_t bOffsetFADR;
    uint8_t bOffsetFSIZ;
    uint8_t bOffsetFSTA;
    uint8_t bOffsetFSFN;
};
#pragma pack(pop)
static_assert(sizeof(FlashSmiTableInfo) == 13, "descriptor is 13 bytes");
static_assert(offsetof(FlashSmiTableInfo, dwTableAddr) == 0, "");
static_assert(offsetof(FlashSmiTableInfo, wSmiPort) == 4, "");
static_assert(offsetof(FlashSmiTableInfo, bSmiCommand) == 6, "");
static_assert(offsetof(FlashSmiTableInfo, abReserved) == 7, "");
static_assert(offsetof(FlashSmiTableInfo, bOffsetFADR) == 9, "");
static_assert(offsetof(FlashSmiTableInfo, bOffsetFSIZ) == 10, "");
static_assert(offsetof(FlashSmiTableInfo, bOffsetFSTA) == 11, "");
static_assert(offsetof(FlashSmiTableInfo, bOffsetFSFN) == 12, "");

// What the first EXTF structure of a segment image says.
struct ExtfInfo
{
    uint32_t dwOffset; // of the signature in the segment
    uint8_t bVersion;
    uint16_t wDescriptorOffset; // valid only when blHeaderComplete
    bool blHeaderComplete;      // the descriptor offset lies inside the image
    size_t cbVisible;           // bytes of the 18 that lie inside the image
};

// Finds the lowest 4-byte aligned offset o with o + 4 < cbSeg that holds the
// signature (for a whole segment: 0 .. 0xFFF8). False when there is none.
bool FindExtf(const uint8_t* pSeg, size_t cbSeg, ExtfInfo* pInfo);

// Copies the 13 descriptor bytes at wOffset. False, and *pInfo untouched,
// when they would reach past the end of the image.
bool CopyFlashSmiTableInfo(const uint8_t* pSeg, size_t cbSeg, uint32_t dwOffset,
                           FlashSmiTableInfo* pInfo);
