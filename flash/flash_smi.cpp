// ReadBlock, WriteBlock and OemData of EDABBlock, over the flash SMI mailbox
// and a 4096-byte physically addressable transfer buffer.
#include "block_flow.h"
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
    DWORD dwExtra = 0; // the library's third out-value, kept with the buffer it describes
};

// The block operations over the mailbox and a physically addressable
// transfer buffer, allocated and freed by each call.
class SmiBlockFlow : public BlockFlow
{
public:
    using BlockFlow::BlockFlow;
    ~SmiBlockFlow() override = default;

protected:
    bool Begin() override
    {
        *m_pdwErrFlags = 0;
        if (!m_block.LocateFlashSmiTable())
        {
            Print("not get flash_smi_table.\n");
            Fail(FLASHERR_NO_SMI_TABLE);
            return false;
        }

        m_buf.pBuf = static_cast<BYTE*>(m_block.pfnAllocPhysBuf(
            static_cast<DWORD>(kTransferBufferSize), m_block.dwAllocArg1, m_block.dwAllocArg2,
            m_block.dwAllocArg3, m_block.dwAllocArg4, &m_buf.hBuf, &m_buf.dwPhys, &m_buf.dwExtra));
        if (!m_buf.pBuf)
        {
            Fail(FLASHERR_ALLOC);
            Print(m_blWrite ? "FlashSMI Write Block: allocate memory failed.\n"
                            : "FlashSMI: allocate memory failed.\n");
            return false;
        }
        BuildFiniRequestHeader(m_buf.pBuf, Ver20(), kFiniInterfaceSmi);
        return true;
    }
    bool Call(DWORD dwCode, DWORD dwArgument) override
    {
        return m_block.CallFlashSmi(dwCode, dwArgument, &m_dwResult);
    }
    BYTE* Buffer() override { return m_buf.pBuf; }
    DWORD FiniArgument() override { return m_buf.dwPhys; }
    void Free(FreeText text) override
    {
        if (!m_block.pfnFreePhysBuf(m_buf.hBuf))
        {
            Fail(FLASHERR_FREE);
            PrintFreeFailed(text);
        }
    }
    // The block data is copied through the address GlobalLock gives for the
    // buffer pointer; a library whose buffers are no global memory handles
    // is copied through the pointer itself, which is the same address.
    BYTE* Lock() override
    {
        m_pLocked = static_cast<BYTE*>(GlobalLock(static_cast<HGLOBAL>(m_buf.pBuf)));
        return m_pLocked ? m_pLocked : m_buf.pBuf;
    }
    void Unlock() override
    {
        if (m_pLocked)
            GlobalUnlock(static_cast<HGLOBAL>(m_buf.pBuf));
        m_pLocked = nullptr;
    }

private:
    TransferBuffer m_buf;
    BYTE* m_pLocked = nullptr;
};

} // namespace

bool EDABBlock::ReadBlock(DWORD dwBlock, BYTE* pData, DWORD* pdwSize, DWORD* pdwErrFlags)
{
    SmiBlockFlow flow(*this, BlockOp::Read, pdwErrFlags);
    return flow.ReadBlock(dwBlock, pData, pdwSize);
}

bool EDABBlock::WriteBlock(DWORD dwBlock, BYTE* pData, DWORD dwSize, DWORD* pdwErrFlags)
{
    SmiBlockFlow flow(*this, BlockOp::Write, pdwErrFlags);
    return flow.WriteBlock(dwBlock, pData, dwSize);
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
        buf.pBuf = static_cast<BYTE*>(
            pfnAllocPhysBuf(static_cast<DWORD>(kTransferBufferSize), dwAllocArg1, dwAllocArg2,
                            dwAllocArg3, dwAllocArg4, &buf.hBuf, &buf.dwPhys, &buf.dwExtra));
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
