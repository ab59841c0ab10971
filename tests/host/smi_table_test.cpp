// Finding the flash SMI mailbox descriptor in an image of the F000h segment.
#include "access/flash_smi_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace
{

std::vector<uint8_t> Segment()
{
    return std::vector<uint8_t>(0x10000, 0x90);
}

void PutExtf(std::vector<uint8_t>& seg, size_t nAt, uint8_t bVersion, uint16_t wDesc)
{
    const uint8_t abExtf[10] = {'E',
                                'X',
                                'T',
                                'F',
                                0,
                                0,
                                0,
                                bVersion,
                                static_cast<uint8_t>(wDesc),
                                static_cast<uint8_t>(wDesc >> 8)};
    memcpy(seg.data() + nAt, abExtf, std::min<size_t>(sizeof(abExtf), seg.size() - nAt));
}

} // namespace

TEST(ExtfScan, FourByteStepsLowestWinsLastTestedIsFFF8)
{
    auto seg = Segment();
    ExtfInfo info;
    EXPECT_FALSE(FindExtf(seg.data(), seg.size(), &info));

    PutExtf(seg, 0x8000, 0x20, 0x100);
    PutExtf(seg, 0x1230, 0x10, 0x200);
    memcpy(seg.data() + 0x0402, "EXTF", 4); // not on a 4-byte step
    ASSERT_TRUE(FindExtf(seg.data(), seg.size(), &info));
    EXPECT_EQ(0x1230u, info.dwOffset);
    EXPECT_EQ(0x10, info.bVersion);
    EXPECT_EQ(0x200, info.wDescriptorOffset);
    EXPECT_TRUE(info.blHeaderComplete);
    EXPECT_EQ(18u, info.cbVisible);

    auto top = Segment();
    memcpy(top.data() + 0xFFFC, "EXTF", 4);
    EXPECT_FALSE(FindExtf(top.data(), top.size(), &info));
    memcpy(top.data() + 0xFFF8, "EXTF", 4);
    ASSERT_TRUE(FindExtf(top.data(), top.size(), &info));
    EXPECT_EQ(0xFFF8u, info.dwOffset);
    // Its descriptor offset would lie past the segment.
    EXPECT_FALSE(info.blHeaderComplete);
    EXPECT_EQ(8u, info.cbVisible);

    auto near = Segment();
    PutExtf(near, 0xFFF4, 0x20, 0x40);
    ASSERT_TRUE(FindExtf(near.data(), near.size(), &info));
    EXPECT_TRUE(info.blHeaderComplete);
    EXPECT_EQ(0x40, info.wDescriptorOffset);
    EXPECT_EQ(12u, info.cbVisible);
}

TEST(ExtfScan, DescriptorIsCopiedByteForByteOnlyWhenItFits)
{
    auto seg = Segment();
    const uint8_t abDesc[13] = {0x00, 0x00, 0xF0, 0x7F, 0xB2, 0x00, 0xE5,
                                0x5A, 0xA5, 0x05, 0x09, 0x02, 0x00};
    memcpy(seg.data() + 0x2001, abDesc, 13);
    FlashSmiTableInfo info;
    ASSERT_TRUE(CopyFlashSmiTableInfo(seg.data(), seg.size(), 0x2001, &info));
    EXPECT_EQ(0, memcmp(&info, abDesc, 13));
    const uint32_t dwTableAddr = info.dwTableAddr; // packed: no references to the fields
    const uint16_t wSmiPort = info.wSmiPort;
    EXPECT_EQ(0x7FF00000u, dwTableAddr);
    EXPECT_EQ(0xB2, wSmiPort);
    EXPECT_EQ(0xE5, info.bSmiCommand);
    EXPECT_EQ(0x05, info.bOffsetFADR);
    EXPECT_EQ(0x09, info.bOffsetFSIZ);
    EXPECT_EQ(0x02, info.bOffsetFSTA);
    EXPECT_EQ(0x00, info.bOffsetFSFN);

    FlashSmiTableInfo untouched;
    memset(&untouched, 0x33, sizeof(untouched));
    EXPECT_TRUE(CopyFlashSmiTableInfo(seg.data(), seg.size(), 0x10000 - 13, &untouched));
    memset(&untouched, 0x33, sizeof(untouched));
    EXPECT_FALSE(CopyFlashSmiTableInfo(seg.data(), seg.size(), 0x10000 - 12, &untouched));
    EXPECT_FALSE(CopyFlashSmiTableInfo(seg.data(), seg.size(), 0xFFFFFFFF, &untouched));
    const uint32_t dwUntouched = untouched.dwTableAddr;
    EXPECT_EQ(0x33333333u, dwUntouched);
}

TEST(ExtfScan, NeverReadsOutsideTheImage)
{
    // Exactly sized heap images ending in a signature or a descriptor, so
    // that the sanitizers of the host build catch a read past the end.
    for (size_t cb = 0; cb <= 40; ++cb)
    {
        std::unique_ptr<uint8_t[]> seg(new uint8_t[cb ? cb : 1]);
        for (size_t i = 0; i < cb; ++i)
            seg[i] = "EXTF"[i % 4];
        ExtfInfo info;
        if (FindExtf(seg.get(), cb, &info))
        {
            EXPECT_LE(info.dwOffset + info.cbVisible, cb);
            EXPECT_EQ(info.blHeaderComplete, info.dwOffset + 10 <= cb);
        }
        FlashSmiTableInfo table;
        for (uint32_t dwOffset = 0; dwOffset <= cb + 1; ++dwOffset)
            EXPECT_EQ(dwOffset + 13 <= cb, CopyFlashSmiTableInfo(seg.get(), cb, dwOffset, &table));
    }
}
