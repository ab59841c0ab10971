#include "edab_block.h"

#include <cstddef>
#include <type_traits>

EDABBlock::~EDABBlock()
{
    if (hAccessLib)
        FreeLibrary(hAccessLib); // nothing to do about a failure at teardown
}

static_assert(!std::is_copy_constructible<EDABBlock>::value &&
                  !std::is_copy_assignable<EDABBlock>::value,
              "a copy would free hAccessLib twice");

// The layout owners compile against, per build: a moved, added, removed or
// resized member changes an offset here and fails the build. offsetof on a
// class with virtual functions is only conditionally supported, hence the
// warning; GCC gives the true offsets for a class without virtual bases.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN64)
#define EDAB_AT(member, x64, i386) static_assert(offsetof(EDABBlock, member) == (x64), #member)
#else
#define EDAB_AT(member, x64, i386) static_assert(offsetof(EDABBlock, member) == (i386), #member)
#endif
// The table of virtual operations comes first.
EDAB_AT(hAccessLib, 8, 4);
EDAB_AT(pfnReserved1, 16, 8);
EDAB_AT(pfnReserved2, 24, 12);
EDAB_AT(pfnReserved3, 32, 16);
EDAB_AT(pfnReserved4, 40, 20);
EDAB_AT(pfnReserved5, 48, 24);
EDAB_AT(pfnIoWriteByte, 56, 28);
EDAB_AT(pfnReserved6, 64, 32);
EDAB_AT(pfnReserved7, 72, 36);
EDAB_AT(pfnReserved8, 80, 40);
EDAB_AT(pfnReserved9, 88, 44);
EDAB_AT(pfnMemReadByte, 96, 48);
EDAB_AT(pfnMemReadWord, 104, 52);
EDAB_AT(pfnMemReadDword, 112, 56);
EDAB_AT(pfnMemWriteByte, 120, 60);
EDAB_AT(pfnMemWriteWord, 128, 64);
EDAB_AT(pfnMemWriteDword, 136, 68);
EDAB_AT(pfnMapPhysMem, 144, 72);
EDAB_AT(pfnUnmapPhysMem, 152, 76);
EDAB_AT(pfnAllocPhysBuf, 160, 80);
EDAB_AT(pfnFreePhysBuf, 168, 84);
EDAB_AT(ppLogFile, 176, 88);
EDAB_AT(blDebug, 184, 92);
EDAB_AT(dwAllowedReason, 188, 96);
EDAB_AT(szMessage, 192, 100);
EDAB_AT(dwAllocArg1, 452, 360);
EDAB_AT(dwAllocArg2, 456, 364);
EDAB_AT(dwAllocArg3, 460, 368);
EDAB_AT(dwAllocArg4, 464, 372);
EDAB_AT(blExtfVer20, 468, 376);
EDAB_AT(blForceVer20, 469, 377);
EDAB_AT(SmiTableInfo, 470, 378);
EDAB_AT(dwNoCheckPower, 484, 392);
EDAB_AT(szPassword, 488, 396);
#undef EDAB_AT
#pragma GCC diagnostic pop
static_assert(sizeof(EDABBlock) == (sizeof(void*) == 8 ? 568 : 476), "size of EDABBlock");
static_assert(sizeof(EDABBlock::szMessage) == 260 && sizeof(EDABBlock::szPassword) == 80 &&
                  sizeof(EDABBlock::SmiTableInfo) == 13 && sizeof(EDABBlock::blDebug) == 1,
              "member sizes");
