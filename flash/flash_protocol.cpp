#include "flash_protocol.h"

#include <cstdio>
#include <cstring>

const char* FlashErrorName(uint32_t dwFlag)
{
    static const struct
    {
        uint32_t dwFlag;
        const char* pszName;
    } kNames[] = {
        {FLASHERR_ALLOC, "FLASHERR_ALLOC"},
        {FLASHERR_FREE, "FLASHERR_FREE"},
        {FLASHERR_FLSH, "FLASHERR_FLSH"},
        {FLASHERR_ECSR, "FLASHERR_ECSR"},
        {FLASHERR_FINI, "FLASHERR_FINI"},
        {FLASHERR_FEBR, "FLASHERR_FEBR"},
        {FLASHERR_POWER, "FLASHERR_POWER"},
        {FLASHERR_BUFFER, "FLASHERR_BUFFER"},
        {FLASHERR_FEBW, "FLASHERR_FEBW"},
        {FLASHERR_FEDW, "FLASHERR_FEDW"},
        {FLASHERR_NO_SMI_TABLE, "FLASHERR_NO_SMI_TABLE"},
    };
    for (const auto& name : kNames)
    {
        if (name.dwFlag == dwFlag)
            return name.pszName;
    }
    return "unknown";
}

bool HasReplySignature(const uint8_t* pBuf, size_t cbBuf)
{
    return cbBuf >= kReplySignatureOffset + 4 &&
           memcmp(pBuf + kReplySignatureOffset, "_$$_", 4) == 0;
}

bool FindFiniReplyRecord(const uint8_t* pBuf, size_t cbBuf, size_t* pnOffset,
                         FiniReplyRecord* pRecord)
{
    // A tag closer to the end than nine bytes cannot hold a whole record.
    for (size_t o = 0; o + sizeof(FiniReplyRecord) <= cbBuf; ++o)
    {
        uint32_t dwTag;
        memcpy(&dwTag, pBuf + o, 4);
        if (dwTag != kFiniReplyTag)
            continue;
        memcpy(pRecord, pBuf + o, sizeof(FiniReplyRecord));
        *pnOffset = o;
        return true;
    }
    return false;
}

bool ReadFiniErrorInfo(const uint8_t* pBuf, size_t cbBuf, uint32_t dwOffset, FiniErrorInfo* pInfo)
{
    if (dwOffset > cbBuf || cbBuf - dwOffset < 4)
        return false;
    memcpy(&pInfo->dwReason, pBuf + dwOffset, 4);
    size_t nText = 0;
    for (size_t o = dwOffset + 4; o < cbBuf && nText < kErrorTextMax && pBuf[o] != '$'; ++o)
        pInfo->szText[nText++] = static_cast<char>(pBuf[o]);
    pInfo->szText[nText] = '\0';
    return true;
}

FiniVerdict JudgeFiniResult(uint32_t dwResult, bool blVer20, bool blSignature,
                            uint32_t dwNoCheckPower)
{
    if (blVer20)
        return dwResult == 0 || dwResult == 4 || dwResult == 8 || dwResult == 12
                   ? FiniVerdict::Accept
                   : FiniVerdict::RefuseVer20;
    uint32_t m = blSignature ? 0 : 1;
    if (dwResult == m)
        return FiniVerdict::Accept;
    if (dwResult == 4 && dwNoCheckPower == 1)
        return FiniVerdict::AcceptPowerUnsafe;
    return FiniVerdict::Refuse;
}

ReasonVerdict JudgeReasonCode(uint32_t dwReason, uint32_t dwAllowedReason)
{
    if (dwReason == 0)
        return ReasonVerdict::Pass;
    if (dwReason == 1 || dwReason == dwAllowedReason)
        return ReasonVerdict::PowerUnsafe;
    return ReasonVerdict::Refuse;
}

size_t BuildPasswordBlock(uint8_t* pBuf, size_t cbBuf, const char* pszPassword, size_t cchField,
                          uint8_t bMaxLen)
{
    // The owner's field need not hold a terminator: never read past it.
    size_t n = strnlen(pszPassword, cchField);
    if (n > bMaxLen)
        n = bMaxLen;
    if (cbBuf < n + 2)
        return 0;
    pBuf[0] = 0;
    memcpy(pBuf + 1, pszPassword, n);
    pBuf[n + 1] = 0;
    return n + 2;
}

int FormatFlscMessage(uint32_t dwResult, char* pszMessage, size_t cchMessage)
{
    if ((dwResult & 3) == 3)
    {
        (void)snprintf(pszMessage, cchMessage, "Password check is failed and check over 3 times");
        return 43;
    }
    if (dwResult & 1)
    {
        (void)snprintf(pszMessage, cchMessage, "Password check is failed");
        return 40;
    }
    if (dwResult & 2)
    {
        (void)snprintf(pszMessage, cchMessage, "Password check over 3 times");
        return 43;
    }
    (void)snprintf(pszMessage, cchMessage, "FLSC return=%lX", static_cast<unsigned long>(dwResult));
    return 0;
}

FiniReplyJudgement JudgeFiniReply(const uint8_t* pBuf, size_t cbBuf, uint32_t dwAllowedReason)
{
    FiniReplyJudgement judgement;
    size_t nRecord = 0;
    FiniReplyRecord record;
    if (!FindFiniReplyRecord(pBuf, cbBuf, &nRecord, &record))
        return judgement;
    judgement.blNeedCheck = (record.bFlags & kReplyNeedCheckFlsc) != 0;
    judgement.dwErrorInfoOffset = record.dwErrorInfoOffset;
    if (record.dwErrorInfoOffset == 0)
        return judgement;

    if (!ReadFiniErrorInfo(pBuf, cbBuf, record.dwErrorInfoOffset, &judgement.info))
    {
        judgement.info.dwReason = 0xFFFFFFFF;
        judgement.info.szText[0] = '\0';
        judgement.blRefuse = true;
        return judgement;
    }
    switch (JudgeReasonCode(judgement.info.dwReason, dwAllowedReason))
    {
        case ReasonVerdict::Pass:
            break;
        case ReasonVerdict::PowerUnsafe:
            judgement.blPass = false;
            break;
        case ReasonVerdict::Refuse:
            judgement.blRefuse = true;
            break;
    }
    return judgement;
}
