// The firmware access object: reaches the flash SMI mailbox through the entry
// points of a hardware access library that its owner loads and fills in
// (hw_access_lib.h). Owners compile against this header and may keep the
// object in their own memory: the order and types of the members and of the
// three virtual operations are fixed, and pinned in edab_block.cpp.
#pragma once

#include "flash_smi_table.h"
#include "hw_access_lib.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

class EDABBlock
{
public:
    EDABBlock() = default;
    // The object owns hAccessLib: a copy would free the library twice.
    EDABBlock(const EDABBlock&) = delete;
    EDABBlock& operator=(const EDABBlock&) = delete;
    // Not virtual: the one owner (g_pBlock) holds the most derived type.
    ~EDABBlock();

    // Read one flash block. *pdwSize: capacity of pData on entry, the block's
    // size on return. *pdwErrFlags receives FLASHERR_* bits.
    virtual bool ReadBlock(DWORD dwBlock, BYTE* pData, DWORD* pdwSize, DWORD* pdwErrFlags);
    // Write one flash block from the first (block size) bytes of pData.
    virtual bool WriteBlock(DWORD dwBlock, BYTE* pData, DWORD dwSize, DWORD* pdwErrFlags);
    // One exchange with the firmware's OEM data function (kinds 0 to 255).
    virtual bool OemData(BYTE bType, DWORD dwValue, BYTE* pData, DWORD* pdwLen, BYTE* pbOut,
                         DWORD* pdwStatus);

    // Finds the EXTF structure in the F000h segment and copies the mailbox
    // descriptor into SmiTableInfo.
    bool LocateFlashSmiTable();
    // Issues one firmware function by its FlashFunctionCode; on success
    // *pdwResult holds the 16-bit FSTA (0 for FLSH), on failure it is untouched.
    bool CallFlashSmi(DWORD dwCode, DWORD dwArgument, DWORD* pdwResult);

    HINSTANCE hAccessLib = nullptr;
    FARPROC pfnReserved1 = nullptr; // entry points no operation calls
    FARPROC pfnReserved2 = nullptr;
    FARPROC pfnReserved3 = nullptr;
    FARPROC pfnReserved4 = nullptr;
    FARPROC pfnReserved5 = nullptr;
    PFN_IO_WRITE_BYTE pfnIoWriteByte = nullptr;
    FARPROC pfnReserved6 = nullptr;
    FARPROC pfnReserved7 = nullptr;
    FARPROC pfnReserved8 = nullptr;
    FARPROC pfnReserved9 = nullptr;
    PFN_MEM_READ_BYTE pfnMemReadByte = nullptr;
    PFN_MEM_READ_WORD pfnMemReadWord = nullptr;
    PFN_MEM_READ_DWORD pfnMemReadDword = nullptr;
    PFN_MEM_WRITE_BYTE pfnMemWriteByte = nullptr;
    PFN_MEM_WRITE_WORD pfnMemWriteWord = nullptr;
    PFN_MEM_WRITE_DWORD pfnMemWriteDword = nullptr;
    PFN_MAP_PHYS_MEM pfnMapPhysMem = nullptr;
    PFN_UNMAP_PHYS_MEM pfnUnmapPhysMem = nullptr;
    PFN_ALLOC_PHYS_BUF pfnAllocPhysBuf = nullptr;
    PFN_FREE_PHYS_BUF pfnFreePhysBuf = nullptr;
    FILE** ppLogFile = nullptr; // the owner's stream variable, read at every debug call
    bool blDebug = false;
    DWORD dwAllowedReason = 0;
    char szMessage[260] = {};
    DWORD dwAllocArg1 = 0;
    DWORD dwAllocArg2 = 0;
    DWORD dwAllocArg3 = 0;
    DWORD dwAllocArg4 = 0;
    bool blExtfVer20 = false;
    bool blForceVer20 = false;
    FlashSmiTableInfo SmiTableInfo = {}; // copy of the firmware's mailbox descriptor
    DWORD dwNoCheckPower = 0;
    char szPassword[80] = {};
};
