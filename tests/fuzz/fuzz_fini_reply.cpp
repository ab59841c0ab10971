// What the firmware leaves in the 4096-byte transfer buffer after FINI and
// what a block write makes of it: reply signature, reply record, error info,
// FINI result, reason code, password block and FLSC text, each against a
// plain reference and inside exactly sized heap buffers.
//
// Input: u32 FINI result, u8 switches (bit 0 revision 0x20), u32
// dwNoCheckPower, u32 dwAllowedReason, u32 a free error-info offset, u16
// FLSC 0 result, u32 FLSC 1 result, u16 szMessage capacity, u16 where the
// rest lands in the buffer, 80 bytes of password field, then the buffer.
#include "flash/flash_protocol.h"
#include "fuzz_common.h"

#include <cstdio>
#include <string>

using fuzz::Check;

namespace
{

constexpr size_t kPasswordField = 80;
constexpr size_t kMessageField = 260;

// The error info at dwOffset as the buffer holds it: false when its reason
// code does not fit.
bool ReferenceErrorInfo(const uint8_t* pb, size_t cb, uint32_t dwOffset, uint32_t* pdwReason,
                        std::string* pText)
{
    if (static_cast<uint64_t>(dwOffset) + 4 > cb)
        return false;
    *pdwReason = fuzz::Le32(pb + dwOffset);
    pText->clear();
    for (size_t o = dwOffset + 4u; o < cb && pb[o] != '$' && pText->size() < kErrorTextMax; ++o)
        *pText += static_cast<char>(pb[o]);
    return true;
}

void CheckErrorInfo(const fuzz::Image& buf, uint32_t dwOffset)
{
    uint32_t dwReason = 0;
    std::string text;
    const bool blExpected = ReferenceErrorInfo(buf.pb, buf.cb, dwOffset, &dwReason, &text);
    FiniErrorInfo info;
    memset(&info, 0x77, sizeof(info));
    Check(ReadFiniErrorInfo(buf.pb, buf.cb, dwOffset, &info) == blExpected);
    if (!blExpected)
        return;
    Check(info.dwReason == dwReason);
    Check(memcmp(info.szText, text.data(), text.size()) == 0 && info.szText[text.size()] == '\0');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    fuzz::Reader in(pbData, cbData);
    const uint32_t dwFini = in.Dword();
    const bool blVer20 = (in.Byte() & 1) != 0;
    const uint32_t dwNoCheckPower = in.Dword();
    const uint32_t dwAllowedReason = in.Dword();
    const uint32_t dwFreeOffset = in.Dword();
    const uint16_t wFlsc0 = in.Word();
    const uint32_t dwFlsc1 = in.Dword();
    const size_t cchMessage = 1 + in.Word() % kMessageField;
    const uint16_t wAt = in.Word();
    fuzz::Image password(kPasswordField, 0);
    in.Rest(password.pb, kPasswordField);
    fuzz::Image buf(kTransferBufferSize, 0xA5);
    buf.Place(in, wAt % kTransferBufferSize);

    // Reply signature right behind the header.
    const bool blSignature = memcmp(buf.pb + 32, "_$$_", 4) == 0;
    Check(HasReplySignature(buf.pb, buf.cb) == blSignature);

    // FINI result.
    const FiniVerdict fini = JudgeFiniResult(dwFini, blVer20, blSignature, dwNoCheckPower);
    if (blVer20)
        Check(fini ==
              (dwFini % 4 == 0 && dwFini <= 12 ? FiniVerdict::Accept : FiniVerdict::RefuseVer20));
    else if (dwFini == (blSignature ? 0u : 1u))
        Check(fini == FiniVerdict::Accept);
    else
        Check(fini == (dwFini == 4 && dwNoCheckPower == 1 ? FiniVerdict::AcceptPowerUnsafe
                                                          : FiniVerdict::Refuse));

    // Reply record: the first whole one, scanning from offset 0.
    size_t nRecord = 0;
    FiniReplyRecord record;
    const bool blRecord = FindFiniReplyRecord(buf.pb, buf.cb, &nRecord, &record);
    size_t nExpected = 0;
    while (nExpected + sizeof(FiniReplyRecord) <= buf.cb &&
           memcmp(buf.pb + nExpected, "INIF", 4) != 0)
        ++nExpected;
    Check(blRecord == (nExpected + sizeof(FiniReplyRecord) <= buf.cb));
    if (blRecord)
    {
        Check(nRecord == nExpected && nRecord <= 4092 - 5);
        Check(memcmp(&record, buf.pb + nRecord, sizeof(record)) == 0);
        const uint32_t dwInfoOffset = record.dwErrorInfoOffset;
        Check(dwInfoOffset == fuzz::Le32(buf.pb + nRecord + 5));
        if (dwInfoOffset != 0)
            CheckErrorInfo(buf, dwInfoOffset);
    }
    CheckErrorInfo(buf, dwFreeOffset);
    CheckErrorInfo(buf, static_cast<uint32_t>(buf.cb - (dwFreeOffset & 7)));

    // Reason code.
    const uint32_t dwReason = dwFreeOffset; // any value
    const ReasonVerdict reason = JudgeReasonCode(dwReason, dwAllowedReason);
    if (dwReason == 0)
        Check(reason == ReasonVerdict::Pass);
    else if (dwReason == 1 || dwReason == dwAllowedReason)
        Check(reason == ReasonVerdict::PowerUnsafe);
    else
        Check(reason == ReasonVerdict::Refuse);

    // Password block from an arbitrary, possibly unterminated 80-byte field.
    size_t n = 0;
    while (n < kPasswordField && password.pb[n] != 0)
        ++n;
    if (n > (wFlsc0 & 0xFF))
        n = wFlsc0 & 0xFF;
    fuzz::Image before(kTransferBufferSize, 0);
    memcpy(before.pb, buf.pb, buf.cb);
    const char* pszPassword = reinterpret_cast<const char*>(password.pb);
    Check(BuildPasswordBlock(buf.pb, buf.cb, pszPassword, kPasswordField,
                             static_cast<uint8_t>(wFlsc0)) == n + 2);
    Check(buf.pb[0] == 0 && memcmp(buf.pb + 1, password.pb, n) == 0 && buf.pb[n + 1] == 0);
    Check(memcmp(buf.pb + n + 2, before.pb + n + 2, buf.cb - n - 2) == 0);
    // Into a buffer too small for it: nothing written.
    const size_t cbSmall = n + 1;
    fuzz::Image small(cbSmall, 0xC3);
    Check(BuildPasswordBlock(small.pb, small.cb, pszPassword, kPasswordField,
                             static_cast<uint8_t>(wFlsc0)) == 0);
    for (size_t i = 0; i < small.cb; ++i)
        Check(small.pb[i] == 0xC3);

    // FLSC 1 text into the 260-character szMessage, or a shorter field.
    fuzz::Image message(cchMessage, 0xEE);
    char* pszMessage = reinterpret_cast<char*>(message.pb);
    const int nReturnCode = FormatFlscMessage(dwFlsc1, pszMessage, cchMessage);
    char szExpected[64];
    int nExpectedCode = 0;
    if ((dwFlsc1 & 3) == 3)
    {
        (void)snprintf(szExpected, sizeof(szExpected),
                       "Password check is failed and check over 3 times");
        nExpectedCode = 43;
    }
    else if (dwFlsc1 & 1)
    {
        (void)snprintf(szExpected, sizeof(szExpected), "Password check is failed");
        nExpectedCode = 40;
    }
    else if (dwFlsc1 & 2)
    {
        (void)snprintf(szExpected, sizeof(szExpected), "Password check over 3 times");
        nExpectedCode = 43;
    }
    else
        (void)snprintf(szExpected, sizeof(szExpected), "FLSC return=%lX",
                       static_cast<unsigned long>(dwFlsc1));
    Check(nReturnCode == nExpectedCode);
    const size_t cchText = strnlen(pszMessage, cchMessage);
    Check(cchText < cchMessage); // always terminated inside the field
    Check(std::string(pszMessage) == std::string(szExpected).substr(0, cchMessage - 1));
    return 0;
}
