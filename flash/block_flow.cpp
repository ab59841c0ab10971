#include "block_flow.h"

#include "flash_protocol.h"

#include <cstdarg>
#include <cstring>

void BlockFlow::Print(const char* pszFormat, ...) // NOLINT(cert-dcl50-cpp)
{
    if (!m_block.blDebug)
        return;
    va_list args;
    va_start(args, pszFormat);
    VDebugPrint(m_block.ppLogFile, pszFormat, args);
    va_end(args);
}

void BlockFlow::PrintFreeFailed(FreeText text)
{
    // Only the write's ordinary paths name the operation.
    if (m_blWrite && text == FreeText::Step)
        Print("FlashSMI Write Block: free memory failed.\n");
    else
        Print("FlashSMI: free memory failed.\n");
}

bool BlockFlow::Open()
{
    if (!Begin())
        return false;

    if (!Call(FLSH, 1))
    {
        Fail(FLASHERR_FLSH);
        Print(m_blWrite ? "FlashSMI Write Block: FLSH 1 failed.\n" : "FlashSMI: FLSH 1 failed.\n");
        Free(FreeText::Step);
        return false;
    }
    if (!Call(FLSH, 0))
    {
        Fail(FLASHERR_FLSH);
        Print(m_blWrite ? "FlashSM Write BlockI: FLSH 0 failed.\n" : "FlashSMI: FLSH 0 failed.\n");
        Close();
        Free(FreeText::Step);
        return false;
    }
    const bool blVer20 = Ver20();
    if (!blVer20 && !Call(ECSR, 1))
    {
        Fail(FLASHERR_ECSR);
        Print(m_blWrite ? "FlashSMI Write Block: ECSR failed.\n" : "FlashSMI: ECSR failed.\n");
        Close();
        Free(FreeText::AfterEcsr);
        return false;
    }
    if (!Call(FINI, FiniArgument()))
    {
        Fail(FLASHERR_FINI);
        Print(m_blWrite ? "FlashSM Write BlockI: FINI failed.\n" : "FlashSMI: FINI failed.\n");
        Close();
        Free(FreeText::Step);
        return false;
    }

    const unsigned r = static_cast<unsigned>(m_dwResult);
    const bool blSignature = HasReplySignature(Buffer(), kTransferBufferSize);
    const unsigned m = blSignature ? 0 : 1;
    switch (JudgeFiniResult(m_dwResult, blVer20, blSignature, m_block.dwNoCheckPower))
    {
        case FiniVerdict::Accept:
            return true;
        case FiniVerdict::AcceptPowerUnsafe:
            Print(m_blWrite ? "FlashSMI Write Block: FINI not success %X  %X. Power is not safe "
                              "but use -ncp to ignore.\n"
                            : "FlashSMI: FINI not success %X  %X. Power is not safe but use -ncp "
                              "to ignore.\n",
                  r, m);
            return true;
        case FiniVerdict::RefuseVer20:
            Fail(FLASHERR_FINI);
            Print(m_blWrite ? "FlashSMI Write Block: FINI not success %X .\n"
                            : "FlashSMI: FINI not success %X .\n",
                  r);
            break;
        case FiniVerdict::Refuse:
            Fail(FLASHERR_FINI);
            Print(m_blWrite ? "FlashSMI Write Block: FINI not success %X  %X.\n"
                            : "FlashSMI: FINI not success %X  %X.\n",
                  r, m);
            break;
    }
    Close();
    Free(FreeText::Step);
    return false;
}

bool BlockFlow::ReadIntoBuffer(DWORD dwBlock, DWORD* pdwSize)
{
    if (!Call(FEBR, dwBlock))
    {
        // The one way out after FLSH 0 that does not close.
        Fail(FLASHERR_FEBR);
        Print(m_blWrite ? "FlashSMI Write Block: FEBR not success %X .\n"
                        : "FlashSMI: FEBR not success %X .\n",
              static_cast<unsigned>(m_dwResult));
        Free(FreeText::Step);
        return false;
    }
    *pdwSize = m_dwResult;
    if (*pdwSize == kNoSuchBlock)
    {
        Fail(FLASHERR_FEBR);
        Print(m_blWrite ? "FlashSMI Write Block: FEBR not success %X   The Block is not exist.\n"
                        : "FlashSMI: FEBR not success %X   The Block is not exist.\n",
              static_cast<unsigned>(*pdwSize));
        Free(FreeText::Step);
        Close();
        return false;
    }
    // The buffer holds 4096 bytes whatever size the firmware reports.
    if (*pdwSize > kTransferBufferSize)
    {
        Fail(FLASHERR_FEBR);
        Print(m_blWrite ? "FlashSMI Write Block: FEBR not success %X .\n"
                        : "FlashSMI: FEBR not success %X .\n",
              static_cast<unsigned>(*pdwSize));
        Free(FreeText::Step);
        Close();
        return false;
    }
    return true;
}

bool BlockFlow::ReadBlock(DWORD dwBlock, BYTE* pData, DWORD* pdwSize)
{
    if (!Open())
        return false;

    DWORD dwSize = 0;
    if (!ReadIntoBuffer(dwBlock, &dwSize))
        return false;

    BYTE* pLocked = Lock();
    if (!pData || *pdwSize < dwSize)
    {
        Fail(FLASHERR_BUFFER);
        *pdwSize = dwSize;
        Unlock();
        Free(FreeText::Step);
        Close();
        return false;
    }
    memcpy(pData, pLocked, dwSize);
    *pdwSize = dwSize;
    Unlock();
    Free(FreeText::Done);
    Close();
    return true;
}

bool BlockFlow::WriteBlock(DWORD dwBlock, BYTE* pData, DWORD dwSize)
{
    if (!Open())
        return false;

    const FiniReplyJudgement reply =
        JudgeFiniReply(Buffer(), kTransferBufferSize, m_block.dwAllowedReason);
    if (reply.blRefuse)
    {
        Close();
        Free(FreeText::Step);
        Print("FlashSMI Write Block: the reason code= %lX, Message= %s, ErrorInfoOffset= "
              "%lX, blNeedCheckFLSC=%d",
              static_cast<unsigned long>(reply.info.dwReason), reply.info.szText,
              static_cast<unsigned long>(reply.dwErrorInfoOffset), reply.blNeedCheck ? 1 : 0);
        return false;
    }

    DWORD dwCheck = 0;
    if (reply.blNeedCheck)
    {
        Call(FLSC, 0); // only the result word counts
        dwCheck = m_dwResult;
    }

    if (!reply.blPass && m_block.dwNoCheckPower == 0)
    {
        Free(FreeText::Step);
        Close();
        Fail(FLASHERR_POWER);
        Print("FlashSMI Write Block: power is not safe.\n");
        return false;
    }

    if (reply.blNeedCheck && (dwCheck & kFlscPasswordWanted))
    {
        BuildPasswordBlock(Buffer(), kTransferBufferSize, m_block.szPassword,
                           sizeof(m_block.szPassword), static_cast<uint8_t>(dwCheck & 0xFF));
        Call(FLSC, 1);
        if (m_dwResult != 0)
        {
            int nReturnCode =
                FormatFlscMessage(m_dwResult, m_block.szMessage, sizeof(m_block.szMessage));
            Print("FlashSMI Write Block: %s  ReturnCode=%d.\n", m_block.szMessage, nReturnCode);
            Free(FreeText::Step);
            Close();
            return false;
        }
    }

    DWORD dwBlockSize = 0;
    if (!ReadIntoBuffer(dwBlock, &dwBlockSize))
        return false;

    BYTE* pLocked = Lock();
    if (!pData || dwSize < dwBlockSize)
    {
        Fail(FLASHERR_BUFFER);
        Print("FlashSMI Write Block: Write buffer is NULL or Write size < block size %X.\n",
              static_cast<unsigned>(dwBlockSize));
        Unlock();
        Free(FreeText::Step);
        Close();
        return false;
    }
    memcpy(pLocked, pData, dwBlockSize);

    bool blDone = false;
    if (!Call(FEBW, dwBlock))
    {
        Fail(FLASHERR_FEBW);
        Print("FlashSMI Write Block: FEBW not success %X.\n", static_cast<unsigned>(m_dwResult));
    }
    else if (m_dwResult == 0)
    {
        // The firmware took nothing: refused without a word.
    }
    else if (!Call(FEDW, dwBlock))
    {
    }
    else if (m_dwResult != 0)
    {
        Fail(FLASHERR_FEDW);
        Print("FlashSMI Write Block: FEDW not success %X.\n", static_cast<unsigned>(m_dwResult));
    }
    else
        blDone = true;

    Unlock();
    Free(blDone ? FreeText::Done : FreeText::Step);
    Close();
    return blDone;
}
