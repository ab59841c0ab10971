// ReadBlock, WriteBlock and OemData over the flash SMI mailbox, judged by
// what an owner sees and by what the virtual BIOS received.
#include "vbios_fixture.h"
#include "tests/common/firmware_setup.h"

#include "flash/flash_protocol.h"
#include "tests/host/debug_stamp.h"

#include <io.h>

#include <cstring>
#include <functional>

namespace
{

using ReadBlockSmi = VirtualBios;
using WriteBlockSmi = VirtualBios;
using OemDataSmi = VirtualBios;

std::vector<uint8_t> Pattern(size_t cb, uint8_t bSeed)
{
    std::vector<uint8_t> data(cb);
    for (size_t i = 0; i < cb; ++i)
        data[i] = static_cast<uint8_t>(bSeed + i * 3);
    return data;
}

std::vector<uint8_t> ErrorInfo(uint32_t dwReason, const std::string& strText)
{
    std::vector<uint8_t> info(4 + strText.size());
    for (int i = 0; i < 4; ++i)
        info[i] = static_cast<uint8_t>(dwReason >> (8 * i));
    memcpy(info.data() + 4, strText.data(), strText.size());
    return info;
}

std::string CaptureStdout(const std::function<void()>& fn)
{
    fflush(stdout);
    FILE* pTmp = tmpfile();
    int fdSaved = _dup(_fileno(stdout));
    _dup2(_fileno(pTmp), _fileno(stdout));
    fn();
    fflush(stdout);
    _dup2(fdSaved, _fileno(stdout));
    _close(fdSaved);
    std::string text = FileContents(pTmp);
    fclose(pTmp);
    return text;
}

std::string SmiLines(unsigned uFsta, unsigned uFsfn, unsigned uFadr, unsigned uFsiz)
{
    char sz[400];
    snprintf(sz, sizeof(sz),
             "@FlashSMI: FlashSMI function FSTA=%Xh.\n@FlashSMI: FlashSMI function FSFN=%Xh\n"
             "@FlashSMI: FlashSMI function FADR=%Xh\n@FlashSMI: FlashSMI function FSIZ=%Xh\n",
             uFsta, uFsfn, uFadr, uFsiz);
    return sz;
}

} // namespace

// ---- ReadBlock ----

TEST_F(ReadBlockSmi, ReadsTheBlockThroughTheWholeHandshake)
{
    m_block.dwAllocArg1 = 11;
    m_block.dwAllocArg2 = 22;
    m_block.dwAllocArg3 = 33;
    m_block.dwAllocArg4 = 44;
    std::vector<uint8_t> data(4096, 0xEE);
    DWORD dwSize = static_cast<DWORD>(data.size());
    DWORD dwFlags = 0xFFFF;
    ASSERT_TRUE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(0u, dwFlags);
    EXPECT_EQ(1024u, dwSize);
    EXPECT_EQ(Block(1), std::vector<uint8_t>(data.begin(), data.begin() + 1024));
    EXPECT_EQ(0xEE, data[1024]) << "nothing beyond the block is written";

    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FEBR free FLSH1", Trace(true));
    auto alloc = Events(VBEV_ALLOC);
    ASSERT_EQ(1u, alloc.size());
    EXPECT_EQ(4096u, alloc[0].dwB);
    EXPECT_EQ(11u, alloc[0].dwC);
    EXPECT_EQ(44u, alloc[0].dwF);
    const VbEvent fini = LastCall(1);
    ASSERT_EQ(static_cast<uint32_t>(VBEV_CALL), fini.dwKind);
    EXPECT_EQ(alloc[0].dwA, fini.dwC) << "FINI gets the buffer's physical address";
    const uint8_t abHeader[32] = {0x5F, 0x46, 0x54, 0x5F, 32, 0,    0,    1,    0x00,
                                  0x01, 0,    0,    9,    3,  0x01, 0x09, 0x10, 0x20};
    ASSERT_GE(fini.cbPayload, 32u);
    EXPECT_EQ(0, memcmp(fini.abPayload, abHeader, 32));
    EXPECT_EQ(1u, LastCall(5).dwC) << "FEBR names the block";
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_MAPPINGS));
}

TEST_F(ReadBlockSmi, DebugLogThroughTheOwnersStream)
{
    m_block.blDebug = true;
    std::vector<uint8_t> data(16);
    DWORD dwSize = 16;
    DWORD dwFlags = 0;
    ASSERT_TRUE(m_block.ReadBlock(2, data.data(), &dwSize, &dwFlags));
    const unsigned uPhys = Events(VBEV_ALLOC)[0].dwA;
    const std::string strLog = Log();
    const size_t nEnd = strLog.find("\n", strLog.find("Flash_SMI_Table Data:\n") + 22 + 13);
    ASSERT_NE(std::string::npos, nEnd);
    // After the location lines and dumps: four mailbox lines per call, the
    // fields as they stand when the SMI is raised.
    std::string strExpected = SmiLines(1, 0, 0, 0) + SmiLines(0, 0, 0, 0) + SmiLines(1, 7, 0, 0) +
                              SmiLines(0xAA, 1, uPhys, 0) + SmiLines(0xAA, 5, 2, 0) +
                              SmiLines(1, 0, 2, 0);
    EXPECT_TRUE(MatchesWithStamps(strLog.substr(nEnd + 1), strExpected)) << strLog.substr(nEnd + 1);
    EXPECT_TRUE(
        MatchesWithStamps(strLog.substr(0, strLog.find("EXTF Data")),
                          "@EXTF structure in F1230h version=10h  Flash_SMI_TABLE=F2000h\n@"));

    // The stream variable is read at every call: closed means silent.
    fclose(m_pLog);
    m_pLog = nullptr;
    EXPECT_TRUE(m_block.ReadBlock(2, data.data(), &dwSize, &dwFlags));
}

TEST_F(ReadBlockSmi, SizeQueryThenExactCapacity)
{
    DWORD dwSize = 0;
    DWORD dwFlags = 0;
    EXPECT_FALSE(m_block.ReadBlock(1, nullptr, &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_BUFFER, dwFlags);
    EXPECT_EQ(1024u, dwSize);
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FEBR free FLSH1", Trace(true))
        << "from the block size on: free, then close";

    std::vector<uint8_t> data(1024, 0xEE);
    dwSize = 1023;
    EXPECT_FALSE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_BUFFER, dwFlags);
    EXPECT_EQ(1024u, dwSize);
    EXPECT_EQ(std::vector<uint8_t>(1024, 0xEE), data);

    dwSize = 1024;
    EXPECT_TRUE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(0u, dwFlags);
    EXPECT_EQ(Block(1), data);
}

TEST_F(ReadBlockSmi, MissingBlockClosesAFailedFebrCallDoesNot)
{
    m_block.blDebug = true;
    DWORD dwSize = 4096;
    DWORD dwFlags = 0;
    std::vector<uint8_t> data(4096);
    EXPECT_FALSE(m_block.ReadBlock(9, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FEBR, dwFlags);
    EXPECT_EQ(4096u, dwSize) << "no size stored for a missing block";
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FEBR free FLSH1", Trace(true));
    EXPECT_NE(std::string::npos,
              Log().find(": FlashSMI: FEBR not success FFFF   The Block is not exist.\n"));

    // FADR stops keeping its value after the fourth SMI: FEBR's setup fails.
    VbClearEvents();
    VbSetKnob(VBK_STUCK_FIELD, VBF_FADR);
    VbSetKnob(VBK_STUCK_AFTER_SMIS, VbGetKnob(VBK_SMI_COUNT) + 4);
    m_block.blDebug = false;
    EXPECT_FALSE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FEBR, dwFlags);
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI free", Trace(true))
        << "no FLSH 1 after a failed FEBR call";
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));
}

TEST_F(ReadBlockSmi, NoTableNoAllocationAndFreeFailures)
{
    VbWriteSegment(Layout().dwExtfOffset, reinterpret_cast<const uint8_t*>("NONE"), 4);
    m_block.blDebug = true;
    DWORD dwSize = 0;
    DWORD dwFlags = 0;
    EXPECT_FALSE(m_block.ReadBlock(1, nullptr, &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_NO_SMI_TABLE, dwFlags);
    EXPECT_FALSE(m_block.WriteBlock(1, nullptr, 0, &dwFlags));
    EXPECT_EQ(FLASHERR_NO_SMI_TABLE, dwFlags);
    EXPECT_TRUE(Events(VBEV_ALLOC).empty());
    EXPECT_TRUE(MatchesWithStamps(Log(), "@not get flash_smi_table.\n@not get flash_smi_table.\n"));

    VbReset();
    VbSetKnob(VBK_ALLOC_FAILS, 1);
    EXPECT_FALSE(m_block.ReadBlock(1, nullptr, &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_ALLOC, dwFlags);
    EXPECT_EQ("", Trace()) << "no firmware function without a buffer";

    VbReset();
    VbSetKnob(VBK_FREE_FAILS, 1);
    std::vector<uint8_t> data(16);
    dwSize = 16;
    EXPECT_TRUE(m_block.ReadBlock(2, data.data(), &dwSize, &dwFlags))
        << "a failed free changes no result";
    EXPECT_EQ(FLASHERR_FREE, dwFlags);
    EXPECT_EQ(Block(2), data);
    EXPECT_FALSE(m_block.ReadBlock(9, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FEBR | FLASHERR_FREE, dwFlags);
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI: free memory failed.\n"));
}

TEST_F(ReadBlockSmi, ReportedSizeAbove4096IsRefusedWithoutOverrun)
{
    const std::vector<uint8_t> block = Pattern(4096, 1);
    VbSetBlock(5, block.data(), 4096, 0x1800);
    std::vector<uint8_t> data(0x2000, 0xEE);
    DWORD dwSize = static_cast<DWORD>(data.size());
    DWORD dwFlags = 0;
    EXPECT_FALSE(m_block.ReadBlock(5, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FEBR, dwFlags);
    EXPECT_EQ(std::vector<uint8_t>(0x2000, 0xEE), data);
    EXPECT_EQ("FLSH1 FLSH0 ECSR1 FINI FEBR FLSH1", Trace());

    // 4096 itself is a whole buffer and fine.
    VbSetBlock(5, block.data(), 4096, 0);
    EXPECT_TRUE(m_block.ReadBlock(5, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(4096u, dwSize);
    EXPECT_EQ(block, std::vector<uint8_t>(data.begin(), data.begin() + 4096));
}

TEST_F(ReadBlockSmi, FiniJudgementWithoutRevision20)
{
    m_block.blDebug = true;
    std::vector<uint8_t> data(4096);
    DWORD dwSize = 4096;
    DWORD dwFlags = 0;

    // Result 0 needs the reply signature.
    VbSetKnob(VBK_REPLY_SIGNATURE, 0);
    EXPECT_FALSE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FINI, dwFlags);
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FLSH1 free", Trace(true)) << "close, then free";
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI: FINI not success 0  1.\n"));

    // Result 1 needs it absent.
    VbSetKnob(VBK_FINI_RESULT, 1);
    EXPECT_TRUE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    VbSetKnob(VBK_REPLY_SIGNATURE, 1);
    EXPECT_FALSE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI: FINI not success 1  0.\n"));

    // Result 4 (power) passes only with dwNoCheckPower exactly 1.
    VbSetKnob(VBK_REPLY_SIGNATURE, -1);
    VbSetKnob(VBK_FINI_RESULT, -1);
    VbSetKnob(VBK_POWER_SAFE, 0);
    VbSetKnob(VBK_AUTO_REPLY_RECORD, 0);
    m_block.dwNoCheckPower = 2;
    EXPECT_FALSE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FINI, dwFlags);
    m_block.dwNoCheckPower = 1;
    EXPECT_TRUE(m_block.ReadBlock(1, data.data(), &dwSize, &dwFlags));
    EXPECT_NE(
        std::string::npos,
        Log().find(
            ": FlashSMI: FINI not success 4  1. Power is not safe but use -ncp to ignore.\n"));
}

class Revision20 : public VirtualBios, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        VirtualBios::SetUp();
        if (GetParam())
            m_block.blForceVer20 = true;
        else
        {
            VbLayout layout = Layout();
            layout.bExtfVersion = 0x20;
            VbSetLayout(&layout);
        }
    }
};

TEST_P(Revision20, NoEcsrOtherHeaderAndResultsUpToTwelve)
{
    std::vector<uint8_t> data(4096);
    DWORD dwSize = 4096;
    DWORD dwFlags = 0;
    ASSERT_TRUE(m_block.ReadBlock(0, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ("FLSH1 FLSH0 FINI FEBR FLSH1", Trace());
    const VbEvent fini = LastCall(1);
    ASSERT_GE(fini.cbPayload, 32u);
    EXPECT_EQ(0x01, fini.abPayload[8]);
    EXPECT_EQ(0x05, fini.abPayload[9]);
    EXPECT_EQ(std::vector<uint8_t>(10, 0xFF),
              std::vector<uint8_t>(fini.abPayload + 22, fini.abPayload + 32));

    // Silently, also while debugging: 4 is no power warning at this revision.
    m_block.blDebug = true;
    for (int32_t nResult : {4, 8, 12})
    {
        VbSetKnob(VBK_FINI_RESULT, nResult);
        EXPECT_TRUE(m_block.ReadBlock(0, data.data(), &dwSize, &dwFlags)) << nResult;
        EXPECT_EQ(0u, dwFlags);
    }
    EXPECT_NE(std::string::npos, Log().find("FlashSMI: FlashSMI function FSFN=1h\n"))
        << "the debug output is on";
    EXPECT_EQ(std::string::npos, Log().find("not success")) << Log();
    m_block.blDebug = true;
    VbSetKnob(VBK_FINI_RESULT, 1);
    EXPECT_FALSE(m_block.ReadBlock(0, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FINI, dwFlags);
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI: FINI not success 1 .\n"));
    EXPECT_EQ(std::string::npos, Log().find("-ncp"));
}

INSTANTIATE_TEST_SUITE_P(ForcedOrReported, Revision20, ::testing::Bool());

TEST_F(ReadBlockSmi, OpeningStepFailures)
{
    std::vector<uint8_t> data(4096);
    DWORD dwSize = 4096;
    DWORD dwFlags = 0;
    VbSetKnob(VBK_STUCK_FIELD, VBF_FSFN);

    // FLSH 1 fails: free, no close.
    EXPECT_FALSE(m_block.ReadBlock(0, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FLSH, dwFlags);
    EXPECT_EQ(0, VbGetKnob(VBK_SMI_COUNT));
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));

    // ECSR fails after two good calls: close (whose setup fails too) and free.
    VbReset();
    VbSetKnob(VBK_STUCK_FIELD, VBF_FSFN);
    VbSetKnob(VBK_STUCK_AFTER_SMIS, 2);
    m_block.blDebug = true;
    EXPECT_FALSE(m_block.WriteBlock(0, data.data(), dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_ECSR, dwFlags);
    EXPECT_EQ("FLSH1 FLSH0", Trace());
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI Write Block: ECSR failed.\n"));
    auto writes = Events(VBEV_MAILBOX_WRITE);
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(1u, writes[writes.size() - 2].dwC) << "the close still writes FLSH 1";

    // ECSR and then the free fail: the write prints the read's free text.
    VbReset();
    VbSetKnob(VBK_STUCK_FIELD, VBF_FSFN);
    VbSetKnob(VBK_STUCK_AFTER_SMIS, 2);
    VbSetKnob(VBK_FREE_FAILS, 1);
    fclose(m_pLog);
    m_pLog = tmpfile();
    EXPECT_FALSE(m_block.WriteBlock(0, data.data(), dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_ECSR | FLASHERR_FREE, dwFlags);
    std::string strTenFailures;
    for (int i = 0; i < 10; ++i)
        strTenFailures += "@FlashSMI: setup flash smi table parameter failed.\n";
    strTenFailures += "@FlashSMI:  call function retry error.\n";
    // From ECSR's first attempt on: its attempts, its message, the close's
    // attempts, the free's message.
    const std::string strLog = Log();
    const size_t nEcsr = strLog.rfind('\n', strLog.find("FlashSMI: setup")) + 1;
    EXPECT_TRUE(MatchesWithStamps(strLog.substr(nEcsr),
                                  strTenFailures + "@FlashSMI Write Block: ECSR failed.\n" +
                                      strTenFailures + "@FlashSMI: free memory failed.\n"))
        << strLog;

    // FINI's setup fails: close and free.
    VbReset();
    VbSetKnob(VBK_STUCK_FIELD, VBF_FADR);
    EXPECT_FALSE(m_block.WriteBlock(0, data.data(), dwSize, &dwFlags));
    EXPECT_EQ(FLASHERR_FINI, dwFlags);
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FLSH1 free", Trace(true));
    EXPECT_NE(std::string::npos, Log().find(": FlashSM Write BlockI: FINI failed.\n"));
}

// ---- WriteBlock ----

TEST_F(WriteBlockSmi, WriteThenReadRoundTrip)
{
    // More bytes than the block holds: exactly the block's size is written.
    std::vector<uint8_t> data = Pattern(2000, 9);
    DWORD dwFlags = 0xFFFF;
    ASSERT_TRUE(m_block.WriteBlock(1, data.data(), 2000, &dwFlags));
    EXPECT_EQ(0u, dwFlags);
    EXPECT_EQ("FLSH1 FLSH0 ECSR1 FINI FEBR FEBW FEDW FLSH1", Trace());
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 1024), Block(1));

    std::vector<uint8_t> back(4096);
    DWORD dwSize = 4096;
    ASSERT_TRUE(m_block.ReadBlock(1, back.data(), &dwSize, &dwFlags));
    EXPECT_EQ(1024u, dwSize);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 1024),
              std::vector<uint8_t>(back.begin(), back.begin() + 1024));
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));

    // What FEBW hands the firmware: the block's 16 bytes copied, the rest of
    // the buffer as FEBR left it, none of the caller's further bytes.
    const std::vector<uint8_t> longer = Pattern(40, 3);
    ASSERT_TRUE(m_block.WriteBlock(2, const_cast<uint8_t*>(longer.data()), 40, &dwFlags));
    const VbEvent febr = LastCall(5);
    const VbEvent febw = LastCall(4);
    ASSERT_EQ(128u, febw.cbPayload);
    ASSERT_EQ(128u, febr.cbPayload);
    EXPECT_EQ(std::vector<uint8_t>(longer.begin(), longer.begin() + 16),
              std::vector<uint8_t>(febw.abPayload, febw.abPayload + 16));
    EXPECT_EQ(std::vector<uint8_t>(febr.abPayload + 16, febr.abPayload + 128),
              std::vector<uint8_t>(febw.abPayload + 16, febw.abPayload + 128));
    EXPECT_NE(std::vector<uint8_t>(longer.begin() + 16, longer.end()),
              std::vector<uint8_t>(febw.abPayload + 16, febw.abPayload + 40));
}

TEST_F(WriteBlockSmi, PasswordProtectedWrite)
{
    VbSetPassword("hunter2");
    strcpy(m_block.szPassword, "hunter2");
    std::vector<uint8_t> data = Pattern(16, 40);
    DWORD dwFlags = 0;
    ASSERT_TRUE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(0u, dwFlags);
    EXPECT_EQ("FLSH1 FLSH0 ECSR1 FINI FLSC0 FLSC1 FEBR FEBW FEDW FLSH1", Trace());
    EXPECT_EQ(data, Block(2));
    EXPECT_EQ(0, memcmp(LastCall(8, 1).abPayload, "\0hunter2\0", 9)) << "the password block";
}

TEST_F(WriteBlockSmi, RefusedPasswordsFillSzMessage)
{
    VbSetPassword("hunter2");
    strcpy(m_block.szPassword, "wrong");
    m_block.blDebug = true;
    const std::vector<uint8_t> before = Block(2);
    std::vector<uint8_t> data = Pattern(16, 40);
    DWORD dwFlags = 0xFFFF;
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(0u, dwFlags) << "a refused password sets no bit";
    EXPECT_STREQ("Password check is failed", m_block.szMessage);
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FLSC0 FLSC1 free FLSH1", Trace(true));
    EXPECT_NE(std::string::npos,
              Log().find(": FlashSMI Write Block: Password check is failed  ReturnCode=40.\n"));

    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_STREQ("Password check is failed and check over 3 times", m_block.szMessage);
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI Write Block: Password check is failed and "
                                            "check over 3 times  ReturnCode=43.\n"));
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_STREQ("Password check over 3 times", m_block.szMessage);
    EXPECT_EQ(before, Block(2));

    // The text stays for the owner after later operations.
    std::vector<uint8_t> back(16);
    DWORD dwSize = 16;
    EXPECT_TRUE(m_block.ReadBlock(2, back.data(), &dwSize, &dwFlags));
    EXPECT_STREQ("Password check over 3 times", m_block.szMessage);

    VbSetKnob(VBK_FLSC1_RESULT, 0x10);
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_STREQ("FLSC return=10", m_block.szMessage);
}

TEST_F(WriteBlockSmi, PasswordLengthIsLimitedByTheFirmware)
{
    VbSetKnob(VBK_PASSWORD_MAX, 4);
    VbSetPassword("abcdefg");
    strcpy(m_block.szPassword, "abcdXYZ");
    std::vector<uint8_t> data = Pattern(16, 1);
    DWORD dwFlags = 0;
    ASSERT_TRUE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(0, memcmp(LastCall(8, 1).abPayload, "\0abcd\0", 6));

    // An owner field filled to its last byte without a terminator.
    VbReset();
    VbSetKnob(VBK_PASSWORD_MAX, 255);
    memset(m_block.szPassword, 'p', sizeof(m_block.szPassword));
    VbSetPassword(std::string(80, 'p').c_str());
    ASSERT_TRUE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    const VbEvent flsc1 = LastCall(8, 1);
    ASSERT_EQ(0, flsc1.abPayload[0]);
    EXPECT_EQ(std::string(80, 'p'),
              std::string(reinterpret_cast<const char*>(flsc1.abPayload + 1)));
}

TEST_F(WriteBlockSmi, PasswordStepNeedsBit15AndFebwZeroFailsSilently)
{
    // The firmware asks for the check but FLSC 0 lacks bit 15: no FLSC 1,
    // and the firmware then refuses FEBW with 0.
    VbSetPassword("hunter2");
    VbSetKnob(VBK_FLSC0_RESULT, 0x0010);
    m_block.blDebug = true;
    std::vector<uint8_t> data = Pattern(16, 1);
    DWORD dwFlags = 0xFFFF;
    const std::vector<uint8_t> before = Block(2);
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(0u, dwFlags);
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FLSC0 FEBR FEBW free FLSH1", Trace(true));
    EXPECT_EQ(before, Block(2));
    EXPECT_EQ(std::string::npos, Log().find("Write Block:")) << "no message of the operation";
}

TEST_F(WriteBlockSmi, PowerNotSafe)
{
    VbSetKnob(VBK_POWER_SAFE, 0);
    std::vector<uint8_t> data = Pattern(16, 2);
    DWORD dwFlags = 0;
    m_block.blDebug = true;

    // Legacy interface: FINI answers 4.
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(FLASHERR_FINI, dwFlags);
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI Write Block: FINI not success 4  1.\n"));

    // Revision 0x20: FINI passes, the reply record says power is not safe.
    m_block.blForceVer20 = true;
    VbClearEvents();
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(FLASHERR_POWER, dwFlags);
    EXPECT_EQ("alloc FLSH1 FLSH0 FINI free FLSH1", Trace(true)) << "free, then close";
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI Write Block: power is not safe.\n"));

    // Any non-zero dwNoCheckPower goes on.
    m_block.dwNoCheckPower = 2;
    ASSERT_TRUE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(data, Block(2));
}

TEST_F(WriteBlockSmi, ReasonCodesInTheReplyRecord)
{
    VbAddFiniPatch(100, ReplyRecord(0, 200).data(), 9);
    const std::vector<uint8_t> info = ErrorInfo(5, "Flash locked by OEM$ignored");
    VbAddFiniPatch(200, info.data(), static_cast<uint32_t>(info.size()));
    m_block.blDebug = true;
    std::vector<uint8_t> data = Pattern(16, 3);
    DWORD dwFlags = 0xFFFF;
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(0u, dwFlags) << "a refused reason code sets no bit";
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FLSH1 free", Trace(true)) << "close, then free";
    const std::string strLog = Log();
    const std::string strLine =
        "FlashSMI Write Block: the reason code= 5, Message= Flash locked by OEM, "
        "ErrorInfoOffset= C8, blNeedCheckFLSC=0";
    ASSERT_GE(strLog.size(), strLine.size());
    EXPECT_EQ(strLine, strLog.substr(strLog.size() - strLine.size())) << "no line end";

    // The owner's allowed reason is treated like power not safe.
    m_block.dwAllowedReason = 5;
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(FLASHERR_POWER, dwFlags);
    m_block.dwNoCheckPower = 1;
    EXPECT_TRUE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(data, Block(2));
}

TEST_F(WriteBlockSmi, ErrorInfoOutsideTheBufferIsRefusedUnread)
{
    VbAddFiniPatch(100, ReplyRecord(1, 4094).data(), 9);
    m_block.blDebug = true;
    std::vector<uint8_t> data = Pattern(16, 3);
    DWORD dwFlags = 0;
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(0u, dwFlags);
    EXPECT_NE(std::string::npos,
              Log().find("the reason code= FFFFFFFF, Message= , ErrorInfoOffset= FFE, "
                         "blNeedCheckFLSC=1"));

    // Error text running into the buffer end is cut there.
    VbReset();
    VbAddFiniPatch(100, ReplyRecord(0, 4090).data(), 9);
    const std::vector<uint8_t> info = ErrorInfo(9, "ab");
    VbAddFiniPatch(4090, info.data(), static_cast<uint32_t>(info.size()));
    EXPECT_FALSE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_NE(std::string::npos,
              Log().find("the reason code= 9, Message= ab, ErrorInfoOffset= FFA, "));

    // A tag too close to the end for a whole record is no record.
    VbReset();
    VbAddFiniPatch(4090, ReplyRecord(0, 200).data(), 6);
    EXPECT_TRUE(m_block.WriteBlock(2, data.data(), 16, &dwFlags));
}

TEST_F(WriteBlockSmi, BufferFebwAndFedwFailures)
{
    m_block.blDebug = true;
    std::vector<uint8_t> data = Pattern(1024, 4);
    DWORD dwFlags = 0;
    EXPECT_FALSE(m_block.WriteBlock(1, data.data(), 1023, &dwFlags));
    EXPECT_EQ(FLASHERR_BUFFER, dwFlags);
    EXPECT_EQ("alloc FLSH1 FLSH0 ECSR1 FINI FEBR free FLSH1", Trace(true));
    EXPECT_NE(
        std::string::npos,
        Log().find(
            ": FlashSMI Write Block: Write buffer is NULL or Write size < block size 400.\n"));
    EXPECT_FALSE(m_block.WriteBlock(1, nullptr, 4096, &dwFlags));
    EXPECT_EQ(FLASHERR_BUFFER, dwFlags);

    const std::vector<uint8_t> before = Block(1);
    VbSetKnob(VBK_FEDW_RESULT, 3);
    EXPECT_FALSE(m_block.WriteBlock(1, data.data(), 1024, &dwFlags));
    EXPECT_EQ(FLASHERR_FEDW, dwFlags);
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI Write Block: FEDW not success 3.\n"));
    EXPECT_EQ(before, Block(1));

    // FEBW's setup fails: the message shows the result word left by FEBR.
    VbReset();
    VbSetKnob(VBK_STUCK_FIELD, VBF_FADR);
    VbSetKnob(VBK_STUCK_AFTER_SMIS, 5);
    EXPECT_FALSE(m_block.WriteBlock(1, data.data(), 1024, &dwFlags));
    EXPECT_EQ(FLASHERR_FEBW, dwFlags);
    EXPECT_NE(std::string::npos, Log().find(": FlashSMI Write Block: FEBW not success 400.\n"));
    EXPECT_EQ("FLSH1 FLSH0 ECSR1 FINI FEBR FLSH1", Trace());

    // FEDW's setup fails: false, no bit, no message of the operation.
    VbReset();
    VbSetKnob(VBK_STUCK_FIELD, VBF_FSTA);
    VbSetKnob(VBK_STUCK_AFTER_SMIS, 6);
    const size_t nLogBefore = Log().size();
    EXPECT_FALSE(m_block.WriteBlock(1, data.data(), 1024, &dwFlags));
    EXPECT_EQ(0u, dwFlags);
    EXPECT_EQ(std::string::npos, Log().find("Write Block", nLogBefore));
    EXPECT_EQ("FLSH1 FLSH0 ECSR1 FINI FEBR FEBW", Trace());
    EXPECT_EQ(before, Block(1));
}

// ---- OemData ----

TEST_F(OemDataSmi, QueryWritesOnlyFsfnAndFsta)
{
    const std::vector<uint8_t> store = Pattern(300, 5);
    VbSetOemData(store.data(), 300);
    m_block.blDebug = true;
    DWORD dwLen = 0;
    BYTE bOut = 0;
    DWORD dwStatus = 0xFFFF;
    ASSERT_TRUE(m_block.OemData(OEMDATA_QUERY, 0x77, nullptr, &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(0u, dwStatus);
    EXPECT_EQ(300u, dwLen);
    EXPECT_EQ(1, bOut);
    EXPECT_EQ("OEMD0", Trace());
    EXPECT_TRUE(Events(VBEV_ALLOC).empty());
    auto writes = Events(VBEV_MAILBOX_WRITE);
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ(static_cast<uint32_t>(VBF_FSFN), writes[0].dwA);
    EXPECT_EQ(0x81u, writes[0].dwC);
    EXPECT_EQ(static_cast<uint32_t>(VBF_FSTA), writes[1].dwA);
    EXPECT_EQ(2u, writes[1].dwB);
    const std::string strLog = Log();
    EXPECT_TRUE(
        MatchesWithStamps(strLog.substr(strLog.find("OEMDATA") - 22),
                          "@OEMDATA function FSTA=0h.    w1 1210\n@OEMDATA function FSFN=81h\n"
                          "@OEMDATA function FADR=0h\n@OEMDATA function FSIZ=0h\n"))
        << strLog;
}

TEST_F(OemDataSmi, WriteThenReadThroughTheBuffer)
{
    std::vector<uint8_t> data = Pattern(40, 7);
    DWORD dwLen = 40;
    DWORD dwStatus = 0;
    ASSERT_TRUE(m_block.OemData(OEMDATA_WRITE, 40, data.data(), &dwLen, nullptr, &dwStatus));
    EXPECT_EQ(0u, dwStatus);
    std::vector<uint8_t> store(100);
    ASSERT_EQ(40u, VbGetOemData(store.data(), 100));
    EXPECT_EQ(data, std::vector<uint8_t>(store.begin(), store.begin() + 40));
    auto alloc = Events(VBEV_ALLOC);
    ASSERT_EQ(1u, alloc.size());
    auto calls = Events(VBEV_CALL);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(alloc[0].dwA, calls[0].dwC) << "FADR holds the buffer's physical address";
    EXPECT_EQ(40u, calls[0].dwD);
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));

    std::vector<uint8_t> back(40, 0xEE);
    ASSERT_TRUE(m_block.OemData(OEMDATA_READ, 40, back.data(), &dwLen, nullptr, &dwStatus));
    EXPECT_EQ(data, back);

    ASSERT_TRUE(m_block.OemData(OEMDATA_SET, 0xBEEF, nullptr, nullptr, nullptr, &dwStatus));
    EXPECT_EQ(0xBEEF, VbGetKnob(VBK_OEM_SETTING));
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));
}

TEST_F(OemDataSmi, CountsAndValuesThatCannotBeSent)
{
    m_block.blDebug = true;
    std::vector<uint8_t> data(4097);
    DWORD dwLen = 4097;
    DWORD dwStatus = 0xFFFF;
    EXPECT_FALSE(m_block.OemData(OEMDATA_WRITE, 1, data.data(), &dwLen, nullptr, &dwStatus));
    EXPECT_EQ(0u, dwStatus);
    EXPECT_EQ(0, VbGetKnob(VBK_SMI_COUNT));
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));
    dwLen = 4;
    EXPECT_FALSE(m_block.OemData(OEMDATA_WRITE, 1, nullptr, &dwLen, nullptr, &dwStatus));

    // A value above 0xFFFF never reads back from the 16-bit FSIZ.
    EXPECT_FALSE(m_block.OemData(OEMDATA_SET, 0x10000, nullptr, nullptr, nullptr, &dwStatus));
    EXPECT_EQ(0, VbGetKnob(VBK_SMI_COUNT));
    size_t nFsizWrites = 0;
    for (const VbEvent& ev : Events(VBEV_MAILBOX_WRITE))
        nFsizWrites += ev.dwA == VBF_FSIZ;
    EXPECT_EQ(5u, nFsizWrites) << "five attempts";
    const std::string strLog = Log();
    EXPECT_TRUE(MatchesWithStamps(strLog.substr(strLog.size() - 22 - 47),
                                  "@OEMDATA function send command and retry. Fail.\n"))
        << strLog;
    EXPECT_EQ(std::string::npos, strLog.find("OEMDATA function FSTA")) << "nothing was sent";

    // Kind 3 with a count over 4096 is sent, then refused before the copy.
    dwLen = 4097;
    EXPECT_FALSE(m_block.OemData(OEMDATA_READ, 1, data.data(), &dwLen, nullptr, &dwStatus));
    EXPECT_EQ(1, VbGetKnob(VBK_SMI_COUNT));
    EXPECT_EQ(0u, dwStatus);
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));
}

TEST_F(OemDataSmi, HigherKindsAreSentLikeASet)
{
    DWORD dwStatus = 0;
    ASSERT_TRUE(m_block.OemData(4, 7, nullptr, nullptr, nullptr, &dwStatus));
    EXPECT_EQ(0xFFFEu, dwStatus) << "the firmware's answer, judged by the caller";
    ASSERT_TRUE(m_block.OemData(255, 7, nullptr, nullptr, nullptr, &dwStatus));
    EXPECT_EQ("OEMD4 OEMD255", Trace());
    for (const VbEvent& call : Events(VBEV_CALL))
        EXPECT_EQ(7u, call.dwD);
}

TEST_F(OemDataSmi, NoTableAndNoBuffer)
{
    VbWriteSegment(Layout().dwExtfOffset, reinterpret_cast<const uint8_t*>("NONE"), 4);
    DWORD dwStatus = 0xFFFF;
    DWORD dwLen = 0;
    BYTE bOut = 0;
    EXPECT_FALSE(m_block.OemData(OEMDATA_QUERY, 0, nullptr, &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(0u, dwStatus);

    VbReset();
    VbSetKnob(VBK_ALLOC_FAILS, 1);
    std::vector<uint8_t> data(8);
    dwLen = 8;
    std::string strOut = CaptureStdout(
        [&] {
            EXPECT_FALSE(m_block.OemData(OEMDATA_READ, 8, data.data(), &dwLen, nullptr, &dwStatus));
        });
    EXPECT_EQ("Allocate memory fail!\n", strOut) << "on standard output even without blDebug";
    EXPECT_EQ("", Trace());
}
