// ReadBlock, WriteBlock and OemData of EDABBlock, over the flash SMI mailbox
// and a 4096-byte physically addressable transfer buffer.
#include "flash_protocol.h"

#include "access/debug_print.h"
#include "access/edab_block.h"
#include "access/function_codes.h"

#include <cstring>

namespace
{

constexpr DWORD kOemDataPauseMs = 10;
constexpr int kOemDataAttempts = 5;

struct TransferBuffer
{
    BYTE* pBuf = nullptr;
    HANDLE hBuf = nullptr;
    DWORD dwPhys = 0;
};

// The texts of the steps ReadBlock and WriteBlock share; they differ per
// operation, typos included.
struct BlockMessages
{
    const char* pszAlloc;
    const char* pszFlsh1;
    const char* pszFlsh0;
    const char* pszEcsr;
    const char* pszFini;
    const char* pszFiniVer20;
    const char* pszFiniRefused;
    const char* pszFiniPower;
    const char* pszFebr;
    const char* pszNoBlock;
    const char* pszFree;     // free failed on most paths
    const char* pszFreeEcsr; // ... after ECSR failed
    const char* pszFreeDone; // ... on the way out after success
};

const BlockMessages kReadMessages = {
    "FlashSMI: allocate memory failed.\n",
    "FlashSMI: FLSH 1 failed.\n",
    "FlashSMI: FLSH 0 failed.\n",
    "FlashSMI: ECSR failed.\n",
    "FlashSMI: FINI failed.\n",
    "FlashSMI: FINI not success %X .\n",
    "FlashSMI: FINI not success %X  %X.\n",
    "FlashSMI: FINI not success %X  %X. Power is not safe but use -ncp to ignore.\n",
    "FlashSMI: FEBR not success %X .\n",
    "FlashSMI: FEBR not success %X   The Block is not exist.\n",
    "FlashSMI: free memory failed.\n",
    "FlashSMI: free memory failed.\n",
    "FlashSMI: free memory failed.\n",
};

const BlockMessages kWriteMessages = {
    "FlashSMI Write Block: allocate memory failed.\n",
    "FlashSMI Write Block: FLSH 1 failed.\n",
    "FlashSM Write BlockI: FLSH 0 failed.\n",
    "FlashSMI Write Block: ECSR failed.\n",
    "FlashSM Write BlockI: FINI failed.\n",
    "FlashSMI Write Block: FINI not success %X .\n",
    "FlashSMI Write Block: FINI not success %X  %X.\n",
    "FlashSMI Write Block: FINI not success %X  %X. Power is not safe but use -ncp to ignore.\n",
    "FlashSMI Write Block: FEBR not success %X .\n",
    "FlashSMI Write Block: FEBR not success %X   The Block is not exist.\n",
    "FlashSMI Write Block: free memory failed.\n",
    "FlashSMI: free memory failed.\n",
    "FlashSMI: free memory failed.\n",
};

// One block operation over the mailbox: its buffer, its result word (shared
// by every call, so a failed call leaves the previous result in it) and its
// error flags.
class BlockSession
{
  public:
    BlockSession(EDABBlock& block, const BlockMessages& messages, DWORD* pdwErrFlags)
        : m_block(block), m_msg(messages), m_pdwErrFlags(pdwErrFlags)
    {
    }

    bool Open();

    bool Call(DWORD dwCode, DWORD dwArgument)
    {
        return m_block.CallFlashSmi(dwCode, dwArgument, &m_dwResult);
    }
    void Close() { Call(FLSH, 1); } // its own result does not matter
    void Free(const char* pszMessage)
    {
        if (!m_block.pfnFreePhysBuf(m_buf.hBuf))
        {
            *m_pdwErrFlags |= FLASHERR_FREE;
            Print(pszMessage);
        }
    }
    void Fail(DWORD dwFlag) { *m_pdwErrFlags |= dwFlag; }

    template <typename... Args> void Print(const char* pszFormat, Args... args)
    {
        if (m_block.blDebug)
            DebugPrint(m_block.ppLogFile, pszFormat, args...);
    }

    // The block data is copied through the address GlobalLock gives for the
    // buffer pointer; a library whose buffers are no global memory handles
    // is copied through the pointer itself, which is the same address.
    BYTE* Lock()
    {
        m_pLocked = static_cast<BYTE*>(GlobalLock(static_cast<HGLOBAL>(m_buf.pBuf)));
        return m_pLocked ? m_pLocked : m_buf.pBuf;
    }
    void Unlock()
    {
        if (m_pLocked)
            GlobalUnlock(static_cast<HGLOBAL>(m_buf.pBuf));
        m_pLocked = nullptr;
    }

    // FEBR for dwBlock; on false the operation is over. *pdwSize: the size.
    bool ReadIntoBuffer(DWORD dwBlock, DWORD* pdwSize);

    EDABBlock& m_block;
    const BlockMessages& m_msg;
    DWORD* m_pdwErrFlags;
    TransferBuffer m_buf;
    BYTE* m_pLocked = nullptr;
    DWORD m_dwResult = 0;
};

bool BlockSession::Open()
{
    *m_pdwErrFlags = 0;
    if (!m_block.LocateFlashSmiTable())
    {
        Print("not get flash_smi_table.\n");
        Fail(FLASHERR_NO_SMI_TABLE);
        return false;
    }

    DWORD dwExtra = 0;
    m_buf.pBuf = static_cast<BYTE*>(m_block.pfnAllocPhysBuf(
        static_cast<DWORD>(kTransferBufferSize), m_block.dwAllocArg1, m_block.dwAllocArg2,
        m_block.dwAllocArg3, m_block.dwAllocArg4, &m_buf.hBuf, &m_buf.dwPhys, &dwExtra));
    if (!m_buf.pBuf)
    {
        Fail(FLASHERR_ALLOC);
        Print(m_msg.pszAlloc);
        return false;
    }

    const bool blVer20 = m_block.blExtfVer20 || m_block.blForceVer20;
    BuildFiniRequestHeader(m_buf.pBuf, blVer20, kFiniInterfaceSmi);

    if (!Call(FLSH, 1))
    {
        Fail(FLASHERR_FLSH);
        Print(m_msg.pszFlsh1);
        Free(m_msg.pszFree);
        return false;
    }
    if (!Call(FLSH, 0))
    {
        Fail(FLASHERR_FLSH);
        Print(m_msg.pszFlsh0);
        Close();
        Free(m_msg.pszFree);
        return false;
    }
    if (!blVer20 && !Call(ECSR, 1))
    {
        Fail(FLASHERR_ECSR);
        Print(m_msg.pszEcsr);
        Close();
        Free(m_msg.pszFreeEcsr);
        return false;
    }
    if (!Call(FINI, m_buf.dwPhys))
    {
        Fail(FLASHERR_FINI);
        Print(m_msg.pszFini);
        Close();
        Free(m_msg.pszFree);
        return false;
    }

    const unsigned r = static_cast<unsigned>(m_dwResult);
    const bool blSignature = HasReplySignature(m_buf.pBuf, kTransferBufferSize);
    const unsigned m = blSignature ? 0 : 1;
    switch (JudgeFiniResult(m_dwResult, blVer20, blSignature, m_block.dwNoCheckPower))
    {
        case FiniVerdict::Accept:
            return true;
        case FiniVerdict::AcceptPowerUnsafe:
            Print(m_msg.pszFiniPower, r, m);
            return true;
        case FiniVerdict::RefuseVer20:
            Fail(FLASHERR_FINI);
            Print(m_msg.pszFiniVer20, r);
            break;
        case FiniVerdict::Refuse:
            Fail(FLASHERR_FINI);
            Print(m_msg.pszFiniRefused, r, m);
            break;
    }
    Close();
    Free(m_msg.pszFree);
    return false;
}

bool BlockSession::ReadIntoBuffer(DWORD dwBlock, DWORD* pdwSize)
{
    if (!Call(FEBR, dwBlock))
    {
        // The one way out after FLSH 0 that does not close.
        Fail(FLASHERR_FEBR);
        Print(m_msg.pszFebr, static_cast<unsigned>(m_dwResult));
        Free(m_msg.pszFree);
        return false;
    }
    *pdwSize = m_dwResult;
    if (*pdwSize == kNoSuchBlock)
    {
        Fail(FLASHERR_FEBR);
        Print(m_msg.pszNoBlock, static_cast<unsigned>(*pdwSize));
        Free(m_msg.pszFree);
        Close();
        return false;
    }
    // The buffer holds 4096 bytes whatever size the firmware reports.
    if (*pdwSize > kTransferBufferSize)
    {
        Fail(FLASHERR_FEBR);
        Print(m_msg.pszFebr, static_cast<unsigned>(*pdwSize));
        Free(m_msg.pszFree);
        Close();
        return false;
    }
    return true;
}

} // namespace

bool EDABBlock::ReadBlock(DWORD dwBlock, BYTE* pData, DWORD* pdwSize, DWORD* pdwErrFlags)
{
    BlockSession s(*this, kReadMessages, pdwErrFlags);
    if (!s.Open())
        return false;

    DWORD dwSize = 0;
    if (!s.ReadIntoBuffer(dwBlock, &dwSize))
        return false;

    BYTE* pLocked = s.Lock();
    if (!pData || *pdwSize < dwSize)
    {
        s.Fail(FLASHERR_BUFFER);
        *pdwSize = dwSize;
        s.Unlock();
        s.Free(kReadMessages.pszFree);
        s.Close();
        return false;
    }
    memcpy(pData, pLocked, dwSize);
    *pdwSize = dwSize;
    s.Unlock();
    s.Free(kReadMessages.pszFreeDone);
    s.Close();
    return true;
}

bool EDABBlock::WriteBlock(DWORD dwBlock, BYTE* pData, DWORD dwSize, DWORD* pdwErrFlags)
{
    BlockSession s(*this, kWriteMessages, pdwErrFlags);
    if (!s.Open())
        return false;

    bool blNeedCheck = false;
    bool blPass = true;
    size_t nRecord = 0;
    FiniReplyRecord record;
    if (FindFiniReplyRecord(s.m_buf.pBuf, kTransferBufferSize, &nRecord, &record))
    {
        blNeedCheck = (record.bFlags & kReplyNeedCheckFlsc) != 0;
        if (record.dwErrorInfoOffset != 0)
        {
            FiniErrorInfo info;
            // Error info that does not fit the buffer cannot be judged: the
            // firmware reported a problem, so the write is refused.
            const bool blReadable = ReadFiniErrorInfo(s.m_buf.pBuf, kTransferBufferSize,
                                                      record.dwErrorInfoOffset, &info);
            if (!blReadable)
            {
                info.dwReason = 0xFFFFFFFF;
                info.szText[0] = '\0';
            }
            ReasonVerdict verdict = blReadable ? JudgeReasonCode(info.dwReason, dwAllowedReason)
                                               : ReasonVerdict::Refuse;
            if (verdict == ReasonVerdict::PowerUnsafe)
                blPass = false;
            else if (verdict == ReasonVerdict::Refuse)
            {
                s.Close();
                s.Free(kWriteMessages.pszFree);
                s.Print("FlashSMI Write Block: the reason code= %lX, Message= %s, ErrorInfoOffset= "
                        "%lX, blNeedCheckFLSC=%d",
                        static_cast<unsigned long>(info.dwReason), info.szText,
                        static_cast<unsigned long>(record.dwErrorInfoOffset), blNeedCheck ? 1 : 0);
                return false;
            }
        }
    }

    DWORD dwCheck = 0;
    if (blNeedCheck)
    {
        s.Call(FLSC, 0); // only the result word counts
        dwCheck = s.m_dwResult;
    }

    if (!blPass && dwNoCheckPower == 0)
    {
        s.Free(kWriteMessages.pszFree);
        s.Close();
        s.Fail(FLASHERR_POWER);
        s.Print("FlashSMI Write Block: power is not safe.\n");
        return false;
    }

    if (blNeedCheck && (dwCheck & kFlscPasswordWanted))
    {
        BuildPasswordBlock(s.m_buf.pBuf, kTransferBufferSize, szPassword, sizeof(szPassword),
                           static_cast<uint8_t>(dwCheck & 0xFF));
        s.Call(FLSC, 1);
        if (s.m_dwResult != 0)
        {
            int nReturnCode = FormatFlscMessage(s.m_dwResult, szMessage, sizeof(szMessage));
            s.Print("FlashSMI Write Block: %s  ReturnCode=%d.\n", szMessage, nReturnCode);
            s.Free(kWriteMessages.pszFree);
            s.Close();
            return false;
        }
    }

    DWORD dwBlockSize = 0;
    if (!s.ReadIntoBuffer(dwBlock, &dwBlockSize))
        return false;

    BYTE* pLocked = s.Lock();
    if (!pData || dwSize < dwBlockSize)
    {
        s.Fail(FLASHERR_BUFFER);
        s.Print("FlashSMI Write Block: Write buffer is NULL or Write size < block size %X.\n",
                static_cast<unsigned>(dwBlockSize));
        s.Unlock();
        s.Free(kWriteMessages.pszFree);
        s.Close();
        return false;
    }
    memcpy(pLocked, pData, dwBlockSize);

    bool blDone = false;
    if (!s.Call(FEBW, dwBlock))
    {
        s.Fail(FLASHERR_FEBW);
        s.Print("FlashSMI Write Block: FEBW not success %X.\n",
                static_cast<unsigned>(s.m_dwResult));
    }
    else if (s.m_dwResult == 0)
    {
        // The firmware took nothing: refused without a word.
    }
    else if (!s.Call(FEDW, dwBlock))
    {
    }
    else if (s.m_dwResult != 0)
    {
        s.Fail(FLASHERR_FEDW);
        s.Print("FlashSMI Write Block: FEDW not success %X.\n",
                static_cast<unsigned>(s.m_dwResult));
    }
    else
        blDone = true;

    s.Unlock();
    s.Free(blDone ? kWriteMessages.pszFreeDone : kWriteMessages.pszFree);
    s.Close();
    return blDone;
}

bool EDABBlock::OemData(BYTE bType, DWORD dwValue, BYTE* pData, DWORD* pdwLen, BYTE* pbOut,
                        DWORD* pdwStatus)
{
    *pdwStatus = 0;
    if (!LocateFlashSmiTable())
    {
        if (blDebug)
            DebugPrint(ppLogFile, "not get flash_smi_table.\n");
        return false;
    }

    const bool blBuffer = bType == OEMDATA_WRITE || bType == OEMDATA_READ;
    TransferBuffer buf;
    if (blBuffer)
    {
        DWORD dwExtra = 0;
        buf.pBuf = static_cast<BYTE*>(
            pfnAllocPhysBuf(static_cast<DWORD>(kTransferBufferSize), dwAllocArg1, dwAllocArg2,
                            dwAllocArg3, dwAllocArg4, &buf.hBuf, &buf.dwPhys, &dwExtra));
        if (!buf.pBuf)
        {
            printf("Allocate memory fail!\n");
            return false;
        }
    }
    auto freeBuffer = [&]()
    {
        if (blBuffer)
            pfnFreePhysBuf(buf.hBuf); // nothing to report about it here
    };

    if (bType == OEMDATA_WRITE)
    {
        if (*pdwLen > kTransferBufferSize || !pData)
        {
            freeBuffer();
            return false;
        }
        memcpy(buf.pBuf, pData, *pdwLen);
    }

    const DWORD64 qwFSFN = static_cast<DWORD>(SmiTableInfo.dwTableAddr + SmiTableInfo.bOffsetFSFN);
    const DWORD64 qwFSTA = static_cast<DWORD>(SmiTableInfo.dwTableAddr + SmiTableInfo.bOffsetFSTA);
    const DWORD64 qwFADR = static_cast<DWORD>(SmiTableInfo.dwTableAddr + SmiTableInfo.bOffsetFADR);
    const DWORD64 qwFSIZ = static_cast<DWORD>(SmiTableInfo.dwTableAddr + SmiTableInfo.bOffsetFSIZ);

    bool blSent = false;
    for (int nAttempt = 0; nAttempt < kOemDataAttempts && !blSent; ++nAttempt)
    {
        bool blGood = true;
        pfnMemWriteByte(qwFSFN, kFnOemData);
        blGood &= pfnMemReadByte(qwFSFN) == kFnOemData;
        pfnMemWriteWord(qwFSTA, bType);
        blGood &= pfnMemReadWord(qwFSTA) == bType;
        if (blBuffer)
        {
            pfnMemWriteDword(qwFADR, buf.dwPhys);
            blGood &= pfnMemReadDword(qwFADR) == buf.dwPhys;
        }
        if (bType != OEMDATA_QUERY)
        {
            pfnMemWriteWord(qwFSIZ, static_cast<WORD>(dwValue));
            // A value above 0xFFFF can never read back whole from the field.
            blGood &= pfnMemReadWord(qwFSIZ) == dwValue;
        }
        if (!blGood)
            continue;

        if (blDebug)
        {
            DebugPrint(ppLogFile, "OEMDATA function FSTA=%lXh.    w1 %ld\n",
                       static_cast<unsigned long>(pfnMemReadWord(qwFSTA)), 1210L);
            DebugPrint(ppLogFile, "OEMDATA function FSFN=%lXh\n",
                       static_cast<unsigned long>(pfnMemReadByte(qwFSFN)));
            DebugPrint(ppLogFile, "OEMDATA function FADR=%lXh\n",
                       static_cast<unsigned long>(pfnMemReadDword(qwFADR)));
            DebugPrint(ppLogFile, "OEMDATA function FSIZ=%lXh\n",
                       static_cast<unsigned long>(pfnMemReadWord(qwFSIZ)));
        }
        pfnIoWriteByte(SmiTableInfo.wSmiPort, SmiTableInfo.bSmiCommand);
        blSent = true;
    }
    if (!blSent)
    {
        if (blDebug)
            DebugPrint(ppLogFile, "OEMDATA function send command and retry. Fail.\n");
        freeBuffer();
        return false;
    }

    Sleep(kOemDataPauseMs);

    if (bType == OEMDATA_READ)
    {
        if (*pdwLen > kTransferBufferSize || !pData)
        {
            freeBuffer();
            return false;
        }
        memcpy(pData, buf.pBuf, *pdwLen);
    }
    *pdwStatus = pfnMemReadWord(qwFSTA);
    if (bType == OEMDATA_QUERY)
    {
        *pdwLen = pfnMemReadDword(qwFADR);
        *pbOut = pfnMemReadByte(qwFSIZ);
    }
    freeBuffer();
    return true;
}
