// The flash SMI transport: find the mailbox, then call firmware functions
// through it with write-and-verify, busy polling and retries.
#include "debug_print.h"
#include "edab_block.h"
#include "function_codes.h"

namespace
{

constexpr int kSmiAttempts = 10;
constexpr int kBusyPolls = 50;
constexpr DWORD kPollIntervalMs = 10;

} // namespace

bool EDABBlock::LocateFlashSmiTable()
{
    HANDLE hMapping = nullptr;
    const BYTE* pSeg =
        static_cast<const BYTE*>(pfnMapPhysMem(kBiosSegmentPhys, kBiosSegmentSize, &hMapping));
    if (!pSeg)
        return false;

    ExtfInfo extf;
    if (!FindExtf(pSeg, kBiosSegmentSize, &extf))
    {
        pfnUnmapPhysMem(hMapping);
        return false;
    }

    // The descriptor offset and the descriptor come from the firmware: both
    // must lie inside the mapped segment before they are read.
    FlashSmiTableInfo info;
    if (!extf.blHeaderComplete ||
        !CopyFlashSmiTableInfo(pSeg, kBiosSegmentSize, extf.wDescriptorOffset, &info))
    {
        if (blDebug && extf.blHeaderComplete)
            DebugPrint(ppLogFile, "EXTF structure in F%04Xh version=%Xh  Flash_SMI_TABLE=F%04Xh\n",
                       static_cast<unsigned>(extf.dwOffset), static_cast<unsigned>(extf.bVersion),
                       static_cast<unsigned>(extf.wDescriptorOffset));
        pfnUnmapPhysMem(hMapping);
        return false;
    }
    SmiTableInfo = info;
    if (extf.bVersion == kExtfVersion20)
        blExtfVer20 = true;

    if (blDebug)
    {
        DebugPrint(ppLogFile, "EXTF structure in F%04Xh version=%Xh  Flash_SMI_TABLE=F%04Xh\n",
                   static_cast<unsigned>(extf.dwOffset), static_cast<unsigned>(extf.bVersion),
                   static_cast<unsigned>(extf.wDescriptorOffset));
        DebugPrint(ppLogFile, "EXTF Data:\n");
        DebugDump(ppLogFile, pSeg + extf.dwOffset, extf.cbVisible);
        DebugPrint(ppLogFile, "Flash_SMI_Table Data:\n");
        DebugDump(ppLogFile, &SmiTableInfo, sizeof(SmiTableInfo));
    }
    pfnUnmapPhysMem(hMapping);
    return true;
}

namespace
{

// Physical address of a mailbox field; the sum is taken in 32 bits.
DWORD64 FieldAddress(const FlashSmiTableInfo& info, uint8_t bField)
{
    uint8_t bOffset = 0;
    switch (bField)
    {
        case MAILBOX_FSFN:
            bOffset = info.bOffsetFSFN;
            break;
        case MAILBOX_FSTA:
            bOffset = info.bOffsetFSTA;
            break;
        case MAILBOX_FADR:
            bOffset = info.bOffsetFADR;
            break;
        default:
            bOffset = info.bOffsetFSIZ;
            break;
    }
    return static_cast<DWORD>(info.dwTableAddr + bOffset);
}

} // namespace

bool EDABBlock::CallFlashSmi(DWORD dwCode, DWORD dwArgument, DWORD* pdwResult)
{
    const FlashFunctionInfo* pInfo = FindFlashFunction(dwCode);
    if (pInfo && !pInfo->blSmi)
        pInfo = nullptr;
    const DWORD64 qwFSFN = FieldAddress(SmiTableInfo, MAILBOX_FSFN);
    const DWORD64 qwFSTA = FieldAddress(SmiTableInfo, MAILBOX_FSTA);
    const DWORD64 qwFADR = FieldAddress(SmiTableInfo, MAILBOX_FADR);
    const DWORD64 qwFSIZ = FieldAddress(SmiTableInfo, MAILBOX_FSIZ);

    for (int nAttempt = 0; nAttempt < kSmiAttempts; ++nAttempt)
    {
        // Every write of the row is made even after one failed to verify.
        bool blSetup = pInfo != nullptr;
        for (int i = 0; pInfo && i < pInfo->cWrites; ++i)
        {
            const MailboxWrite& write = pInfo->aWrites[i];
            DWORD64 qwAddr = FieldAddress(SmiTableInfo, write.bField);
            DWORD dwValue = write.blArgument ? dwArgument : write.wConstant;
            switch (write.cbWidth)
            {
                case 1:
                    pfnMemWriteByte(qwAddr, static_cast<BYTE>(dwValue));
                    blSetup &= pfnMemReadByte(qwAddr) == static_cast<BYTE>(dwValue);
                    break;
                case 2:
                    pfnMemWriteWord(qwAddr, static_cast<WORD>(dwValue));
                    blSetup &= pfnMemReadWord(qwAddr) == static_cast<WORD>(dwValue);
                    break;
                default:
                    pfnMemWriteDword(qwAddr, dwValue);
                    blSetup &= pfnMemReadDword(qwAddr) == dwValue;
                    break;
            }
        }
        if (!blSetup)
        {
            if (blDebug)
                DebugPrint(ppLogFile, "FlashSMI: setup flash smi table parameter failed.\n");
            continue;
        }

        if (blDebug)
        {
            DebugPrint(ppLogFile, "FlashSMI: FlashSMI function FSTA=%lXh.\n",
                       static_cast<unsigned long>(pfnMemReadWord(qwFSTA)));
            DebugPrint(ppLogFile, "FlashSMI: FlashSMI function FSFN=%lXh\n",
                       static_cast<unsigned long>(pfnMemReadByte(qwFSFN)));
            DebugPrint(ppLogFile, "FlashSMI: FlashSMI function FADR=%lXh\n",
                       static_cast<unsigned long>(pfnMemReadDword(qwFADR)));
            DebugPrint(ppLogFile, "FlashSMI: FlashSMI function FSIZ=%lXh\n",
                       static_cast<unsigned long>(pfnMemReadWord(qwFSIZ)));
        }

        pfnIoWriteByte(SmiTableInfo.wSmiPort, SmiTableInfo.bSmiCommand);

        bool blAnswered = false;
        for (int nPoll = 0; nPoll < kBusyPolls && !blAnswered; ++nPoll)
        {
            Sleep(kPollIntervalMs);
            blAnswered = pfnMemReadWord(qwFSTA) != kBusyMarker;
        }
        if (!blAnswered)
        {
            if (blDebug)
                DebugPrint(ppLogFile, "FlashSMI: call function not response.\n");
            continue;
        }

        *pdwResult = dwCode == FLSH ? 0 : pfnMemReadWord(qwFSTA);
        return true;
    }
    if (blDebug)
        DebugPrint(ppLogFile, "FlashSMI:  call function retry error.\n");
    return false;
}
