// The request header handed to the firmware with FINI: the same 32 bytes on
// every transport, so it lives below both (the SMI operations and the WMI
// exchange build it). Pure logic.
#pragma once

#include <cstddef>
#include <cstdint>

// Interface word at offset 8 of the request header.
constexpr uint32_t kFiniInterfaceSmi = 0x00000100;
constexpr uint32_t kFiniInterfaceWmi = 0x00000400;
constexpr uint32_t kFiniInterfaceVer20 = 0x00000501;

#pragma pack(push, 1)
struct FiniRequestHeader
{
    uint8_t abSignature[4]; // "_FT_"
    uint16_t wLength;       // 32
    uint8_t bReserved;      // 0
    uint8_t bOne;           // 1
    uint32_t dwInterface;
    uint8_t bNine;   // 9
    uint8_t bThree;  // 3
    uint32_t dwDate; // 0x20100901
    uint32_t dwZero;
    uint8_t abFill[10]; // 0x00, or 0xFF under revision 0x20
};
#pragma pack(pop)
static_assert(sizeof(FiniRequestHeader) == 32, "request header is 32 bytes");
static_assert(offsetof(FiniRequestHeader, wLength) == 4, "");
static_assert(offsetof(FiniRequestHeader, bReserved) == 6, "");
static_assert(offsetof(FiniRequestHeader, bOne) == 7, "");
static_assert(offsetof(FiniRequestHeader, dwInterface) == 8, "");
static_assert(offsetof(FiniRequestHeader, bNine) == 12, "");
static_assert(offsetof(FiniRequestHeader, bThree) == 13, "");
static_assert(offsetof(FiniRequestHeader, dwDate) == 14, "");
static_assert(offsetof(FiniRequestHeader, dwZero) == 18, "");
static_assert(offsetof(FiniRequestHeader, abFill) == 22, "");

// Writes the 32-byte header at pBuf. dwLegacyInterface is the transport's
// interface word when revision 0x20 is not in force.
void BuildFiniRequestHeader(uint8_t* pBuf, bool blVer20, uint32_t dwLegacyInterface);
