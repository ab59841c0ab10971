// The flash protocol in the transfer buffer: what the firmware is handed and
// how its answers are read, including answers that do not fit the buffer.
#include "flash/flash_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{

std::vector<uint8_t> Buffer(uint8_t bFill = 0xA5)
{
    return std::vector<uint8_t>(4096, bFill);
}

void PutRecord(std::vector<uint8_t>& buf, size_t nAt, uint8_t bFlags, uint32_t dwInfo)
{
    const uint8_t abRecord[9] = {0x49,
                                 0x4E,
                                 0x49,
                                 0x46,
                                 bFlags,
                                 static_cast<uint8_t>(dwInfo),
                                 static_cast<uint8_t>(dwInfo >> 8),
                                 static_cast<uint8_t>(dwInfo >> 16),
                                 static_cast<uint8_t>(dwInfo >> 24)};
    memcpy(buf.data() + nAt, abRecord, sizeof(abRecord));
}

} // namespace

TEST(FiniRequestHeader, LegacyAndRevision20BytesForBothTransports)
{
    const uint8_t abLegacySmi[32] = {0x5F, 0x46, 0x54, 0x5F, 32,   0,    0,    1, 0x00, 0x01, 0,
                                     0,    9,    3,    0x01, 0x09, 0x10, 0x20, 0, 0,    0,    0};
    uint8_t abBuf[40];
    memset(abBuf, 0xEE, sizeof(abBuf));
    BuildFiniRequestHeader(abBuf, false, kFiniInterfaceSmi);
    EXPECT_EQ(0, memcmp(abBuf, abLegacySmi, 32));
    EXPECT_EQ(0xEE, abBuf[32]) << "only the 32 header bytes are written";

    BuildFiniRequestHeader(abBuf, false, kFiniInterfaceWmi);
    EXPECT_EQ(0x00, abBuf[8]);
    EXPECT_EQ(0x04, abBuf[9]);

    uint8_t abVer20[32];
    memcpy(abVer20, abLegacySmi, 32);
    abVer20[8] = 0x01;
    abVer20[9] = 0x05;
    memset(abVer20 + 22, 0xFF, 10);
    for (uint32_t dwLegacy : {kFiniInterfaceSmi, kFiniInterfaceWmi})
    {
        BuildFiniRequestHeader(abBuf, true, dwLegacy);
        EXPECT_EQ(0, memcmp(abBuf, abVer20, 32));
    }
}

TEST(FiniReply, SignatureOnlyRightBehindTheHeader)
{
    auto buf = Buffer();
    EXPECT_FALSE(HasReplySignature(buf.data(), buf.size()));
    memcpy(buf.data() + 33, "_$$_", 4);
    EXPECT_FALSE(HasReplySignature(buf.data(), buf.size()));
    memcpy(buf.data() + 32, "_$$_", 4);
    EXPECT_TRUE(HasReplySignature(buf.data(), buf.size()));
    EXPECT_FALSE(HasReplySignature(buf.data(), 35));
}

TEST(FiniReply, FirstWholeRecordWinsAndCutOffTagsAreIgnored)
{
    auto buf = Buffer();
    size_t nAt = 0;
    FiniReplyRecord record;
    EXPECT_FALSE(FindFiniReplyRecord(buf.data(), buf.size(), &nAt, &record));

    PutRecord(buf, 700, 0, 0);
    PutRecord(buf, 301, 1, 0x12345678); // unaligned and lower: this one
    ASSERT_TRUE(FindFiniReplyRecord(buf.data(), buf.size(), &nAt, &record));
    EXPECT_EQ(301u, nAt);
    EXPECT_EQ(1, record.bFlags);
    const uint32_t dwInfo = record.dwErrorInfoOffset; // packed: no reference to it
    EXPECT_EQ(0x12345678u, dwInfo);

    // A tag at 4087 still has its nine bytes; at 4088 it has eight.
    auto end = Buffer();
    PutRecord(end, 4087, 1, 5);
    ASSERT_TRUE(FindFiniReplyRecord(end.data(), end.size(), &nAt, &record));
    EXPECT_EQ(4087u, nAt);
    auto cut = Buffer();
    memcpy(cut.data() + 4088, "INIF", 4);
    memcpy(cut.data() + 4092, "INIF", 4);
    EXPECT_FALSE(FindFiniReplyRecord(cut.data(), cut.size(), &nAt, &record));
}

TEST(FiniReply, ErrorInfoTextStopsAtDollarHundredCharactersOrBufferEnd)
{
    auto buf = Buffer('x');
    const uint8_t abReason[4] = {2, 0, 0, 0};
    memcpy(buf.data() + 200, abReason, 4);
    memcpy(buf.data() + 204, "Flash locked$tail", 17);
    FiniErrorInfo info;
    ASSERT_TRUE(ReadFiniErrorInfo(buf.data(), buf.size(), 200, &info));
    EXPECT_EQ(2u, info.dwReason);
    EXPECT_STREQ("Flash locked", info.szText);

    // No '$' in reach: the first 100 characters.
    ASSERT_TRUE(ReadFiniErrorInfo(buf.data(), buf.size(), 1000, &info));
    EXPECT_EQ(std::string(100, 'x'), info.szText);

    // Text running into the buffer end stops there; the reason code must fit.
    ASSERT_TRUE(ReadFiniErrorInfo(buf.data(), buf.size(), 4096 - 4 - 3, &info));
    EXPECT_STREQ("xxx", info.szText);
    ASSERT_TRUE(ReadFiniErrorInfo(buf.data(), buf.size(), 4092, &info));
    EXPECT_STREQ("", info.szText);
    info.dwReason = 77;
    EXPECT_FALSE(ReadFiniErrorInfo(buf.data(), buf.size(), 4093, &info));
    EXPECT_FALSE(ReadFiniErrorInfo(buf.data(), buf.size(), 0xFFFFFFFF, &info));
    EXPECT_EQ(77u, info.dwReason);
}

TEST(PasswordBlock, LengthIsTheSmallerOfPasswordAndFirmwareLimit)
{
    uint8_t abBuf[100];
    memset(abBuf, 0xCC, sizeof(abBuf));
    EXPECT_EQ(8u, BuildPasswordBlock(abBuf, sizeof(abBuf), "secret", 80, 16));
    EXPECT_EQ(0, memcmp(abBuf, "\0secret\0", 8));
    EXPECT_EQ(0xCC, abBuf[8]);

    memset(abBuf, 0xCC, sizeof(abBuf));
    EXPECT_EQ(6u, BuildPasswordBlock(abBuf, sizeof(abBuf), "secret", 80, 4));
    EXPECT_EQ(0, memcmp(abBuf, "\0secr\0", 6));

    EXPECT_EQ(2u, BuildPasswordBlock(abBuf, sizeof(abBuf), "", 80, 16));
    EXPECT_EQ(0, abBuf[0]);
    EXPECT_EQ(0, abBuf[1]);
}

TEST(PasswordBlock, UnterminatedFieldIsNeverReadPastItsEnd)
{
    // A field of 8 characters without a terminator, followed by bytes that
    // must not be sent.
    struct
    {
        char szField[8];
        char achAfter[8];
    } owner;
    memcpy(owner.szField, "ABCDEFGH", 8);
    memcpy(owner.achAfter, "leaked!", 8);
    uint8_t abBuf[64];
    EXPECT_EQ(10u,
              BuildPasswordBlock(abBuf, sizeof(abBuf), owner.szField, sizeof(owner.szField), 255));
    EXPECT_EQ(0, memcmp(abBuf, "\0ABCDEFGH\0", 10));
}

TEST(FlscMessage, FirstMatchingRowChoosesTextAndReturnCode)
{
    char szMessage[260];
    EXPECT_EQ(43, FormatFlscMessage(3, szMessage, sizeof(szMessage)));
    EXPECT_STREQ("Password check is failed and check over 3 times", szMessage);
    EXPECT_EQ(40, FormatFlscMessage(0x101, szMessage, sizeof(szMessage)));
    EXPECT_STREQ("Password check is failed", szMessage);
    EXPECT_EQ(43, FormatFlscMessage(2, szMessage, sizeof(szMessage)));
    EXPECT_STREQ("Password check over 3 times", szMessage);
    EXPECT_EQ(0, FormatFlscMessage(0x8010, szMessage, sizeof(szMessage)));
    EXPECT_STREQ("FLSC return=8010", szMessage);
}

// Owners print the error-flag word bit by bit with these names.
TEST(FlashErrorName, EachFlagItsOwnNameAnythingElseUnknown)
{
    EXPECT_STREQ("FLASHERR_ALLOC", FlashErrorName(FLASHERR_ALLOC));
    EXPECT_STREQ("FLASHERR_NO_SMI_TABLE", FlashErrorName(FLASHERR_NO_SMI_TABLE));
    std::set<std::string> names;
    for (uint32_t dwFlag = FLASHERR_ALLOC; dwFlag <= FLASHERR_NO_SMI_TABLE; dwFlag <<= 1)
        names.insert(FlashErrorName(dwFlag));
    EXPECT_EQ(11u, names.size());
    EXPECT_EQ(0u, names.count("unknown"));
    for (uint32_t dwOther : {0u, 0x800u, FLASHERR_FLSH | FLASHERR_FINI, 0x80000000u})
        EXPECT_STREQ("unknown", FlashErrorName(dwOther));
}

TEST(FirmwareParsers, NeverReadOutsideTheirBuffers)
{
    // Exactly sized heap copies, so that the sanitizers of the host build
    // catch any read past the end. The contents are the worst case: tags,
    // signatures and offsets pointing at the end.
    for (size_t cb = 0; cb <= 48; ++cb)
    {
        std::vector<uint8_t> pattern(cb);
        for (size_t i = 0; i < cb; ++i)
            pattern[i] = "INIF\x01\xFC\x0F\x00\x00"[i % 9];
        std::unique_ptr<uint8_t[]> buf(new uint8_t[cb ? cb : 1]);
        if (cb)
            memcpy(buf.get(), pattern.data(), cb);

        size_t nAt;
        FiniReplyRecord record;
        if (FindFiniReplyRecord(buf.get(), cb, &nAt, &record))
        {
            EXPECT_LE(nAt + sizeof(record), cb);
        }
        HasReplySignature(buf.get(), cb);
        FiniErrorInfo info;
        for (uint32_t dwOffset = 0; dwOffset <= cb + 1; ++dwOffset)
            if (ReadFiniErrorInfo(buf.get(), cb, dwOffset, &info))
            {
                EXPECT_LE(dwOffset + 4 + strlen(info.szText), cb);
            }
    }
}

TEST(FiniReply, JudgementOfRecordAndErrorInfo)
{
    std::vector<uint8_t> buf = Buffer(0);
    FiniReplyJudgement none = JudgeFiniReply(buf.data(), buf.size(), 7);
    EXPECT_FALSE(none.blNeedCheck);
    EXPECT_TRUE(none.blPass);
    EXPECT_FALSE(none.blRefuse);

    // Password wanted, no error info.
    PutRecord(buf, 64, 0x03, 0);
    FiniReplyJudgement j = JudgeFiniReply(buf.data(), buf.size(), 7);
    EXPECT_TRUE(j.blNeedCheck);
    EXPECT_TRUE(j.blPass);
    EXPECT_FALSE(j.blRefuse);

    // Reason 1 and the owner's allowed reason: power not safe; others refuse.
    const uint32_t aReasons[] = {0, 1, 7, 2};
    for (uint32_t dwReason : aReasons)
    {
        PutRecord(buf, 64, 0x00, 96);
        memcpy(buf.data() + 96, &dwReason, 4);
        memcpy(buf.data() + 100, "why$", 4);
        j = JudgeFiniReply(buf.data(), buf.size(), 7);
        EXPECT_EQ(j.blPass, dwReason != 1 && dwReason != 7) << dwReason;
        EXPECT_EQ(j.blRefuse, dwReason == 2) << dwReason;
        EXPECT_EQ(j.dwErrorInfoOffset, 96u);
        EXPECT_STREQ(j.info.szText, "why");
    }

    // Error info whose reason code would cross the end is refused unread.
    PutRecord(buf, 64, 0x01, 4093);
    j = JudgeFiniReply(buf.data(), buf.size(), 7);
    EXPECT_TRUE(j.blRefuse);
    EXPECT_TRUE(j.blNeedCheck);
    EXPECT_EQ(j.info.dwReason, 0xFFFFFFFFu);
    EXPECT_STREQ(j.info.szText, "");
}
