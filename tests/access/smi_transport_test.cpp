// Locating the flash SMI mailbox and calling firmware functions through it,
// against the virtual BIOS.
#include "vbios_fixture.h"

#include "access/function_codes.h"
#include "tests/host/debug_stamp.h"

#include <cstring>

namespace
{

using SmiTable = VirtualBios;

std::vector<uint8_t> Bytes(const void* p, size_t cb)
{
    const uint8_t* pb = static_cast<const uint8_t*>(p);
    return std::vector<uint8_t>(pb, pb + cb);
}

struct MailboxWriteRec
{
    uint32_t dwField, dwWidth, dwValue;
    bool operator==(const MailboxWriteRec& o) const
    {
        return dwField == o.dwField && dwWidth == o.dwWidth && dwValue == o.dwValue;
    }
};

std::ostream& operator<<(std::ostream& os, const MailboxWriteRec& w)
{
    return os << "{field " << w.dwField << ", width " << w.dwWidth << ", 0x" << std::hex
              << w.dwValue << std::dec << "}";
}

} // namespace

TEST_F(SmiTable, DefaultTableIsCopiedByteForByteAndUnmapped)
{
    ASSERT_TRUE(m_block.LocateFlashSmiTable());
    const VbLayout layout = Layout();
    const FlashSmiTableInfo info = m_block.SmiTableInfo;
    EXPECT_EQ(layout.dwTableAddr, info.dwTableAddr);
    EXPECT_EQ(layout.wSmiPort, info.wSmiPort);
    EXPECT_EQ(layout.bSmiCommand, info.bSmiCommand);
    EXPECT_EQ(layout.bOffsetFADR, info.bOffsetFADR);
    EXPECT_EQ(layout.bOffsetFSIZ, info.bOffsetFSIZ);
    EXPECT_EQ(layout.bOffsetFSTA, info.bOffsetFSTA);
    EXPECT_EQ(layout.bOffsetFSFN, info.bOffsetFSFN);
    EXPECT_EQ(0x5A, info.abReserved[0]) << "the unused bytes are copied too";
    EXPECT_EQ(0xA5, info.abReserved[1]);
    EXPECT_FALSE(m_block.blExtfVer20);

    auto maps = Events(VBEV_MAP);
    ASSERT_EQ(1u, maps.size());
    EXPECT_EQ(0xF0000u, maps[0].dwA);
    EXPECT_EQ(0x10000u, maps[0].dwB);
    EXPECT_EQ(1u, Events(VBEV_UNMAP).size());
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_MAPPINGS));
    EXPECT_EQ("", Log()) << "no debug output while blDebug is clear";
}

TEST_F(SmiTable, DebugLinesAndRawDumps)
{
    m_block.blDebug = true;
    ASSERT_TRUE(m_block.LocateFlashSmiTable());
    const std::string strExtf("EXTF\x11\x22\x33\x10\x00\x20"
                              "abcdefgh",
                              18);
    const std::string strLog = Log();
    EXPECT_TRUE(MatchesWithStamps(
        strLog, "@EXTF structure in F1230h version=10h  Flash_SMI_TABLE=F2000h\n"
                "@EXTF Data:\n" +
                    strExtf + "\n@Flash_SMI_Table Data:\n" +
                    std::string(reinterpret_cast<const char*>(&m_block.SmiTableInfo), 13) + "\n"))
        << ::testing::PrintToString(strLog);
}

TEST_F(SmiTable, LowerOfTwoStructuresWinsAndVersion20Sticks)
{
    VbLayout layout = Layout();
    layout.dwExtfOffset = 0x8000;
    layout.bExtfVersion = 0x20;
    VbSetLayout(&layout);
    // A second copy lower in the segment, pointing at another descriptor.
    const uint8_t abExtf[10] = {'E', 'X', 'T', 'F', 0, 0, 0, 0x10, 0x00, 0x30};
    const uint8_t abDesc[13] = {0x00, 0x10, 0x00, 0x00, 0x34, 0x12, 0x77, 0, 0, 1, 2, 3, 4};
    VbWriteSegment(0x0100, abExtf, sizeof(abExtf));
    VbWriteSegment(0x3000, abDesc, sizeof(abDesc));
    ASSERT_TRUE(m_block.LocateFlashSmiTable());
    EXPECT_EQ(Bytes(abDesc, 13), Bytes(&m_block.SmiTableInfo, 13));
    EXPECT_FALSE(m_block.blExtfVer20) << "the version of the copy that was used counts";

    layout.dwExtfOffset = 0x0200;
    VbSetLayout(&layout);
    ASSERT_TRUE(m_block.LocateFlashSmiTable());
    EXPECT_TRUE(m_block.blExtfVer20);
    layout.bExtfVersion = 0x10;
    VbSetLayout(&layout);
    ASSERT_TRUE(m_block.LocateFlashSmiTable());
    EXPECT_TRUE(m_block.blExtfVer20) << "never cleared once set";
}

TEST_F(SmiTable, StructuresAtTheSegmentEndAreNeverReadPastIt)
{
    // The segment is followed by an inaccessible page: any read past
    // F000h:FFFF would fault the test.
    VbLayout layout = Layout();
    layout.dwExtfOffset = 0xFFFC;
    VbSetLayout(&layout);
    EXPECT_FALSE(m_block.LocateFlashSmiTable()) << "0xFFFC is not scanned";

    layout.dwExtfOffset = 0xFFF8; // found, but its descriptor offset lies past the end
    VbSetLayout(&layout);
    m_block.blDebug = true;
    EXPECT_FALSE(m_block.LocateFlashSmiTable());
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_MAPPINGS)) << "unmapped on every path";

    layout.dwExtfOffset = 0xFFF4; // its last 6 bytes are cut off by the segment end
    VbSetLayout(&layout);
    ASSERT_TRUE(m_block.LocateFlashSmiTable());
    EXPECT_NE(std::string::npos, Log().find(std::string("EXTF Data:\nEXTF\x11\x22\x33\x10\x00\x20"
                                                        "ab\n",
                                                        24)))
        << "only the 12 bytes inside the segment are dumped";

    const FlashSmiTableInfo before = m_block.SmiTableInfo;
    layout.dwExtfOffset = 0x1230;
    layout.wDescriptorOffset = 0xFFF4; // 13 bytes would pass the end by one
    VbSetLayout(&layout);
    EXPECT_FALSE(m_block.LocateFlashSmiTable());
    EXPECT_EQ(0, memcmp(&before, &m_block.SmiTableInfo, 13)) << "the old copy stays";
    layout.wDescriptorOffset = 0xFFF3; // ends exactly at the segment end
    VbSetLayout(&layout);
    EXPECT_TRUE(m_block.LocateFlashSmiTable());
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_MAPPINGS));
}

TEST_F(SmiTable, NoMappingNoSignature)
{
    VbSetKnob(VBK_MAP_FAILS, 1);
    EXPECT_FALSE(m_block.LocateFlashSmiTable());
    EXPECT_TRUE(Events(VBEV_UNMAP).empty()) << "nothing to unmap";
    VbSetKnob(VBK_MAP_FAILS, 0);

    VbWriteSegment(0x1230, reinterpret_cast<const uint8_t*>("XXXX"), 4);
    EXPECT_FALSE(m_block.LocateFlashSmiTable());
    EXPECT_EQ(1u, Events(VBEV_UNMAP).size());
}

class SmiCall : public VirtualBios
{
protected:
    void SetUp() override
    {
        VirtualBios::SetUp();
        ASSERT_TRUE(m_block.LocateFlashSmiTable());
        VbClearEvents();
    }

    std::vector<MailboxWriteRec> Writes() const
    {
        std::vector<MailboxWriteRec> writes;
        for (const VbEvent& ev : Events(VBEV_MAILBOX_WRITE))
            writes.push_back({ev.dwA, ev.dwB, ev.dwC});
        return writes;
    }
};

TEST_F(SmiCall, EachRowWritesItsFieldsInOrderAtTheirWidths)
{
    DWORD dwResult = 0xDEADBEEF;
    ASSERT_TRUE(m_block.CallFlashSmi(FEBR, 1, &dwResult));
    EXPECT_EQ(0xFFFFu, dwResult) << "no FINI: the firmware has no buffer to place the block in";
    const std::vector<MailboxWriteRec> febr = {
        {VBF_FADR, 4, 1}, {VBF_FSFN, 1, 5}, {VBF_FSTA, 2, 0xAA}};
    EXPECT_EQ(febr, Writes());
    auto smis = Events(VBEV_SMI);
    ASSERT_EQ(1u, smis.size());
    EXPECT_EQ(0xB2u, smis[0].dwA);
    EXPECT_EQ(0xE5u, smis[0].dwB);

    VbClearEvents();
    ASSERT_TRUE(m_block.CallFlashSmi(OEMD, 0x12340000, &dwResult));
    const std::vector<MailboxWriteRec> oemd = {{VBF_FSTA, 2, 0},
                                               {VBF_FADR, 4, 0x12340000},
                                               {VBF_FSIZ, 4, 0x12340000},
                                               {VBF_FSFN, 1, 0x81}};
    EXPECT_EQ(oemd, Writes()) << "FSIZ of OEMD is written as 32 bits";

    VbClearEvents();
    ASSERT_TRUE(m_block.CallFlashSmi(FWRI, 0x55, &dwResult));
    const std::vector<MailboxWriteRec> fwri = {
        {VBF_FADR, 4, 0x55}, {VBF_FSIZ, 2, 0x1000}, {VBF_FSFN, 1, 3}, {VBF_FSTA, 2, 0xAA}};
    EXPECT_EQ(fwri, Writes());
    VbClearEvents();
    ASSERT_TRUE(m_block.CallFlashSmi(FLSC, 0x10001, &dwResult));
    const std::vector<MailboxWriteRec> flsc = {{VBF_FSTA, 2, 1}, {VBF_FSFN, 1, 8}};
    EXPECT_EQ(flsc, Writes()) << "only the low 16 bits go to FSTA";
}

TEST_F(SmiCall, ResultWordRules)
{
    VbSetKnob(VBK_FLSH_RESULT, 0x1234);
    DWORD dwResult = 0xDEADBEEF;
    ASSERT_TRUE(m_block.CallFlashSmi(FLSH, 1, &dwResult));
    EXPECT_EQ(0u, dwResult) << "FLSH reports 0 whatever FSTA holds";

    VbSetKnob(VBK_ECSR_RESULT, 0xFFFE);
    dwResult = 0xFFFFFFFF;
    ASSERT_TRUE(m_block.CallFlashSmi(ECSR, 1, &dwResult));
    EXPECT_EQ(0x0000FFFEu, dwResult) << "16 significant bits, upper half 0";
}

TEST_F(SmiCall, BusyMarkerNeverClearedGivesUpAfterTenAttempts)
{
    VbSetKnob(VBK_NEVER_ANSWER_FN, 1);
    m_block.blDebug = true;
    DWORD dwResult = 77;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    EXPECT_FALSE(m_block.CallFlashSmi(FINI, 0x1000, &dwResult));
    QueryPerformanceCounter(&end);
    const double dElapsedMs =
        1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    EXPECT_EQ(77u, dwResult);
    EXPECT_EQ(10, VbGetKnob(VBK_SMI_COUNT));
    // Per attempt: the read-back of the busy marker, the debug read, 50 polls.
    EXPECT_EQ(10 * 52, VbGetKnob(VBK_FSTA_READS));
    // 10 attempts of 50 polls 10 ms apart. A sleep never ends early, so 5 s
    // is an exact lower bound (a 9 ms poll stays near 4.5 s); the upper bound
    // only catches a poll that lost its pause, whatever the load.
    EXPECT_GE(dElapsedMs, 10 * 50 * 10.0);
    EXPECT_LT(dElapsedMs, 60000.0);

    std::string strAttempt = "@FlashSMI: FlashSMI function FSTA=AAh.\n"
                             "@FlashSMI: FlashSMI function FSFN=1h\n"
                             "@FlashSMI: FlashSMI function FADR=1000h\n"
                             "@FlashSMI: FlashSMI function FSIZ=0h\n"
                             "@FlashSMI: call function not response.\n";
    std::string strExpected;
    for (int i = 0; i < 10; ++i)
        strExpected += strAttempt;
    strExpected += "@FlashSMI:  call function retry error.\n";
    EXPECT_TRUE(MatchesWithStamps(Log(), strExpected)) << Log();
}

// Ten setup failures and the retry message: what a call that never gets its
// mailbox set up prints.
std::string TenSetupFailures()
{
    std::string strExpected;
    for (int i = 0; i < 10; ++i)
        strExpected += "@FlashSMI: setup flash smi table parameter failed.\n";
    return strExpected + "@FlashSMI:  call function retry error.\n";
}

TEST_F(SmiCall, FieldThatDoesNotKeepItsValueFailsSetupWithoutAnySmi)
{
    VbSetKnob(VBK_STUCK_FIELD, VBF_FSFN);
    m_block.blDebug = true;
    DWORD dwResult = 77;
    EXPECT_FALSE(m_block.CallFlashSmi(FLSH, 0, &dwResult));
    EXPECT_EQ(77u, dwResult);
    EXPECT_EQ(0, VbGetKnob(VBK_SMI_COUNT));
    EXPECT_EQ(20u, Writes().size()) << "every write of the row, ten times";
    EXPECT_TRUE(MatchesWithStamps(Log(), TenSetupFailures())) << Log();

    // Every code of the table writes FSFN, so every one fails its setup.
    for (DWORD dwCode : {FINI, FWRI, FWRP, FEBW, FEBR, FEDW, ECSR, GDMI, FLSC, OEMD})
    {
        SCOPED_TRACE(dwCode);
        fclose(m_pLog);
        m_pLog = tmpfile();
        VbClearEvents();
        EXPECT_FALSE(m_block.CallFlashSmi(dwCode, 0x1234, &dwResult));
        EXPECT_EQ(77u, dwResult);
        EXPECT_EQ(0, VbGetKnob(VBK_SMI_COUNT));
        EXPECT_FALSE(Writes().empty());
        EXPECT_TRUE(MatchesWithStamps(Log(), TenSetupFailures())) << Log();
    }
}

TEST_F(SmiCall, FersAndUnknownCodesNeverTouchTheMailbox)
{
    m_block.blDebug = true;
    DWORD dwResult = 77;
    EXPECT_FALSE(m_block.CallFlashSmi(FERS, 1, &dwResult));
    EXPECT_FALSE(m_block.CallFlashSmi(MakeFunctionCode("ABCD"), 1, &dwResult));
    EXPECT_FALSE(m_block.CallFlashSmi(0x464C5349, 1, &dwResult)); // one off FLSH
    EXPECT_EQ(77u, dwResult);
    EXPECT_TRUE(Events().empty());
    // Each is given up only after its ten attempts.
    EXPECT_TRUE(
        MatchesWithStamps(Log(), TenSetupFailures() + TenSetupFailures() + TenSetupFailures()))
        << Log();
}

TEST_F(SmiCall, UnmarkedRowWithArgumentAAWaitsForTheFirmware)
{
    // A slow firmware: its answer reaches FSTA only at the third read.
    VbSetKnob(VBK_BUSY_READS, 3);
    DWORD dwResult = 77;
    ASSERT_TRUE(m_block.CallFlashSmi(ECSR, 0xAA, &dwResult));
    EXPECT_EQ(0u, dwResult) << "the firmware's own answer";
    // Read-back, three polls, the result read.
    EXPECT_EQ(5, VbGetKnob(VBK_FSTA_READS));

    // With argument 1 the first poll already differs from the marker: the
    // call counts as answered and reports the argument still standing there.
    ASSERT_TRUE(m_block.CallFlashSmi(ECSR, 1, &dwResult));
    EXPECT_EQ(1u, dwResult);
    EXPECT_EQ(5 + 3, VbGetKnob(VBK_FSTA_READS));
}
