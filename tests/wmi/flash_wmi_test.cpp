// ReadBlock, WriteBlock and OemData of WMIGeneric against the shared
// firmware model, reached through the simulated BIOS classes
// (CallInterface 1), the GenericInterface server (0) or no transport at all.
#include "access/function_codes.h"
#include "flash/flash_protocol.h"
#include "sim/wmi_model_firmware.h"
#include "sim/wmi_sim_bios.h"
#include "tests/common/firmware_setup.h"
#include "tests/host/debug_stamp.h"
#include "wmi/wmi_generic.h"
#include "wmi_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Messages followed by the close's own debug lines.
bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class FlashWmi : public testing::Test
{
protected:
    void TearDown() override
    {
        delete block; // disconnects a CallInterface 1 object, ending its COM
        std::fclose(pLog);
        EXPECT_EQ(bios.lLiveObjects, 0);
        if (blGeneric)
        {
            EXPECT_EQ(dll.LiveObjects(), 0);
        }
    }

    // An owner's object on transport dwInterface, with its debug stream.
    void Use(DWORD dwInterface)
    {
        block = new WMIGeneric;
        block->RetryLimit = 4;
        pLog = std::tmpfile();
        ASSERT_NE(pLog, nullptr);
        block->ppLogFile = &pLog;
        block->CallInterface = dwInterface;
        if (dwInterface == 1)
        {
            ASSERT_EQ(CoInitialize(nullptr), S_OK);
            bios.pFirmware = &firmware;
            block->pSvc = bios.NewServices();
        }
        else if (dwInterface == 0)
        {
            blGeneric = true;
            ASSERT_TRUE(dll.Loaded());
            ASSERT_EQ(dll.Register(), S_OK);
            dll.Configure(&firmware, 0);
        }
    }

    // The functions the firmware model was called with, as
    // "FLSH1 FLSH0 ECSR1 FINI FEBR ...".
    std::string Trace()
    {
        std::string trace;
        for (const VbEvent& ev : model.Recorder().Events())
        {
            if (ev.dwKind != VBEV_CALL)
                continue;
            if (!trace.empty())
                trace += ' ';
            static const char* const kNames[] = {"FLSH", "FINI", "FERS", "FWRx", "FEBW",
                                                 "FEBR", "FEDW", "ECSR", "FLSC"};
            trace += ev.dwA < 9 ? kNames[ev.dwA] : "OEMD";
            // Functions whose word is a parameter rather than the marker.
            if (ev.dwA == 0 || ev.dwA == 7 || ev.dwA == 8)
                trace += std::to_string(ev.dwB);
        }
        return trace;
    }
    // The last call of function bFunction.
    VbEvent LastCall(uint32_t dwFunction)
    {
        VbEvent found = {};
        for (const VbEvent& ev : model.Recorder().Events())
            if (ev.dwKind == VBEV_CALL && ev.dwA == dwFunction)
                found = ev;
        return found;
    }
    std::string Log() { return StreamContents(pLog); }
    DWORD PayloadAddress() const
    {
        return static_cast<DWORD>(reinterpret_cast<uintptr_t>(block->WPLDBuf));
    }

    FirmwareModel model;
    WmiModelFirmware firmware{model};
    SimWmiBios bios;
    GenericSimDll dll;
    bool blGeneric = false;
    WMIGeneric* block = nullptr;
    FILE* pLog = nullptr;
};

class FlashWmiRoundTrip : public FlashWmi, public testing::WithParamInterface<DWORD>
{
};

} // namespace

TEST_P(FlashWmiRoundTrip, WriteThenReadABlock)
{
    Use(GetParam());
    const std::vector<uint8_t> data = Pattern(1024, 77);
    std::vector<uint8_t> source = data;
    source.resize(1500, 0xCC); // more than the block: only its size is written
    DWORD dwFlags = 0;
    bool blWritten = false;
    Captured out =
        CaptureOutput([&] { blWritten = block->WriteBlock(1, source.data(), 1500, &dwFlags); });
    EXPECT_TRUE(blWritten);
    EXPECT_EQ(dwFlags, 0u);
    std::vector<uint8_t> stored;
    ASSERT_TRUE(model.GetBlock(1, &stored));
    EXPECT_EQ(stored, data);

    std::vector<uint8_t> read(4096, 0xEE);
    DWORD dwSize = 4096;
    bool blRead = false;
    Captured outRead =
        CaptureOutput([&] { blRead = block->ReadBlock(1, read.data(), &dwSize, &dwFlags); });
    EXPECT_TRUE(blRead);
    EXPECT_EQ(dwFlags, 0u);
    EXPECT_EQ(dwSize, 1024u);
    EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.begin() + 1024), data);
    EXPECT_EQ(read[1024], 0xEE) << "nothing beyond the block is written";

    EXPECT_EQ(Trace(), "FLSH1 FLSH0 ECSR1 FINI FEBR FEBW FEDW FLSH1 "
                       "FLSH1 FLSH0 ECSR1 FINI FEBR FLSH1");
    const VbEvent fini = LastCall(1);
    EXPECT_EQ(fini.dwC, PayloadAddress()) << "FINI names the payload buffer";
    const uint8_t abHeader[32] = {0x5F, 0x46, 0x54, 0x5F, 32, 0,    0,    1,    0x00,
                                  0x04, 0,    0,    9,    3,  0x01, 0x09, 0x10, 0x20};
    ASSERT_GE(fini.cbPayload, 32u);
    EXPECT_EQ(std::memcmp(fini.abPayload, abHeader, 32), 0);
    EXPECT_EQ(out.out + out.err + outRead.out + outRead.err, "");
    EXPECT_EQ(Log(), "");
}

INSTANTIATE_TEST_SUITE_P(CallInterface, FlashWmiRoundTrip, testing::Values(1u, 0u),
                         [](const testing::TestParamInfo<DWORD>& info)
                         { return info.param == 1 ? "WmiClasses" : "GenericInterface"; });

TEST_F(FlashWmi, NoTransportNeverCompletesAndEndsInTheRetryMessage)
{
    Use(2);
    block->blDebug = true;
    std::vector<uint8_t> data(4096, 0xEE);
    DWORD dwSize = 4096;
    DWORD dwFlags = 0;
    bool blResult = true;
    Captured out =
        CaptureOutput([&] { blResult = block->ReadBlock(1, data.data(), &dwSize, &dwFlags); });
    EXPECT_FALSE(blResult);
    EXPECT_EQ(dwFlags, FLASHERR_FLSH);
    EXPECT_TRUE(EndsWith(out.out, "Retry 4 failed.\n")) << out.out;
    EXPECT_TRUE(EndsWith(Log(), ": FlashSMI: FLSH 1 failed.\n"));
    EXPECT_EQ(out.err, "");

    dwFlags = 0;
    out = CaptureOutput([&] { blResult = block->WriteBlock(1, data.data(), 4096, &dwFlags); });
    EXPECT_FALSE(blResult);
    EXPECT_EQ(dwFlags, FLASHERR_FLSH);
    EXPECT_TRUE(EndsWith(out.out, "Retry 4 failed.\n"));
    EXPECT_TRUE(EndsWith(Log(), ": FlashSMI Write Block: FLSH 1 failed.\n"));
    EXPECT_EQ(Trace(), "");
    EXPECT_TRUE(firmware.argsReceived.empty());
}

TEST_F(FlashWmi, PasswordProtectedWrite)
{
    Use(0);
    model.SetPassword("secret");
    std::strcpy(block->szPassword, "wrong");
    std::vector<uint8_t> data = Pattern(16, 5);
    DWORD dwFlags = 0;
    block->blDebug = true;
    EXPECT_FALSE(block->WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(dwFlags, 0u) << "a refused password sets no bit";
    EXPECT_STREQ(block->szMessage, "Password check is failed");
    EXPECT_TRUE(
        Contains(Log(), ": FlashSMI Write Block: Password check is failed  ReturnCode=40.\n"));
    EXPECT_EQ(Trace(), "FLSH1 FLSH0 ECSR1 FINI FLSC0 FLSC1 FLSH1");

    model.Recorder().Clear();
    std::strcpy(block->szPassword, "secret");
    EXPECT_TRUE(block->WriteBlock(2, data.data(), 16, &dwFlags));
    EXPECT_EQ(dwFlags, 0u);
    EXPECT_EQ(Trace(), "FLSH1 FLSH0 ECSR1 FINI FLSC0 FLSC1 FEBR FEBW FEDW FLSH1");
    const VbEvent check = LastCall(8);
    const uint8_t abBlock[8] = {0, 's', 'e', 'c', 'r', 'e', 't', 0};
    ASSERT_GE(check.cbPayload, 8u);
    EXPECT_EQ(std::memcmp(check.abPayload, abBlock, 8), 0);
    std::vector<uint8_t> stored;
    ASSERT_TRUE(model.GetBlock(2, &stored));
    EXPECT_EQ(stored, data);
}

TEST_F(FlashWmi, ErrorFlagsAccumulateAcrossCalls)
{
    Use(1);
    std::vector<uint8_t> data(4096);
    DWORD dwSize = 4096;
    DWORD dwFlags = FLASHERR_FEBR; // left from an earlier call
    EXPECT_TRUE(block->ReadBlock(2, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(dwFlags, FLASHERR_FEBR);

    dwFlags = FLASHERR_FLSH;
    dwSize = 4096;
    EXPECT_FALSE(block->ReadBlock(9, data.data(), &dwSize, &dwFlags)) << "no block 9";
    EXPECT_EQ(dwFlags, FLASHERR_FLSH | FLASHERR_FEBR);

    // A buffer too small adds its bit and reports the size.
    dwSize = 15;
    EXPECT_FALSE(block->ReadBlock(2, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(dwFlags, FLASHERR_FLSH | FLASHERR_FEBR | FLASHERR_BUFFER);
    EXPECT_EQ(dwSize, 16u);
}

TEST_F(FlashWmi, Revision20SkipsEcsrAndSendsItsHeader)
{
    Use(0);
    block->blForceVer20 = true;
    std::vector<uint8_t> data(4096);
    DWORD dwSize = 4096;
    DWORD dwFlags = 0;
    EXPECT_TRUE(block->ReadBlock(0, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(dwSize, 4096u);
    EXPECT_EQ(Trace(), "FLSH1 FLSH0 FINI FEBR FLSH1");
    const VbEvent fini = LastCall(1);
    EXPECT_EQ(fini.abPayload[8], 0x01);
    EXPECT_EQ(fini.abPayload[9], 0x05);
    EXPECT_EQ(fini.abPayload[31], 0xFF);
}

TEST_F(FlashWmi, ReportedBlockSizeAboveTheBufferIsRefused)
{
    Use(1);
    block->blDebug = true;
    const std::vector<uint8_t> big = Pattern(4096, 9);
    model.SetBlock(3, big.data(), big.size(), 5000);
    std::vector<uint8_t> data(8192, 0xEE);
    DWORD dwSize = 8192;
    DWORD dwFlags = 0;
    EXPECT_FALSE(block->ReadBlock(3, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(dwFlags, FLASHERR_FEBR);
    EXPECT_EQ(data, std::vector<uint8_t>(8192, 0xEE)) << "nothing was copied";
    EXPECT_TRUE(Contains(Log(), ": FlashSMI: FEBR not success 1388 .\n"));
    EXPECT_TRUE(EndsWith(Trace(), "FEBR FLSH1"));

    dwFlags = 0;
    EXPECT_FALSE(block->WriteBlock(3, data.data(), 8192, &dwFlags));
    EXPECT_EQ(dwFlags, FLASHERR_FEBR);
    EXPECT_TRUE(Contains(Log(), ": FlashSMI Write Block: FEBR not success 1388 .\n"));
    EXPECT_TRUE(EndsWith(Trace(), "FEBR FLSH1")) << "no FEBW";
}

TEST_F(FlashWmi, ErrorInfoOutsideThePayloadRefusesTheWrite)
{
    Use(1);
    block->blDebug = true;
    const std::vector<uint8_t> record = ReplyRecord(0, 4094); // its reason code would cross the end
    model.AddFiniPatch(200, record.data(), record.size());
    std::vector<uint8_t> data(4096);
    DWORD dwFlags = 0;
    EXPECT_FALSE(block->WriteBlock(2, data.data(), 4096, &dwFlags));
    EXPECT_EQ(dwFlags, 0u);
    EXPECT_TRUE(EndsWith(Log(), ": FlashSMI Write Block: the reason code= FFFFFFFF, Message= , "
                                "ErrorInfoOffset= FFE, blNeedCheckFLSC=0"))
        << Log();
    EXPECT_TRUE(EndsWith(Trace(), "FINI FLSH1"));
}

TEST_F(FlashWmi, FailedCallsTakeTheSmiPathsAndMessages)
{
    Use(0);
    block->blDebug = true;
    std::vector<uint8_t> data(4096);
    DWORD dwFlags = 0;
    // The second call, FLSH 0, is refused by the firmware.
    firmware.nFailCall = 2;
    EXPECT_FALSE(block->WriteBlock(2, data.data(), 4096, &dwFlags));
    EXPECT_EQ(dwFlags, FLASHERR_FLSH);
    EXPECT_TRUE(Contains(Log(), ": FlashSM Write BlockI: FLSH 0 failed.\n"));
    EXPECT_EQ(Trace(), "FLSH1 FLSH1") << "closed after FLSH 0 failed";

    // FEBR answers with the marker standing: no close after it.
    model.Recorder().Clear();
    firmware.nFailCall = 0;
    firmware.nCompletedCalls = 0;
    firmware.nLeaveParamWordCall = 5;
    dwFlags = 0;
    DWORD dwSize = 4096;
    EXPECT_FALSE(block->ReadBlock(2, data.data(), &dwSize, &dwFlags));
    EXPECT_EQ(dwFlags, FLASHERR_FEBR);
    EXPECT_EQ(Trace(), "FLSH1 FLSH0 ECSR1 FINI FEBR");
    EXPECT_NE(Log().find("0xAA not change!\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(Log(), ": FlashSMI: FEBR not success 0 .\n"));

    // A function the firmware lacks is refused with ErrorCode 1.
    DWORD dwResult = 0xDEAD;
    EXPECT_FALSE(block->CallWmiFunction(FWRP, 0, &dwResult));
    EXPECT_EQ(dwResult, 0xDEADu);
    EXPECT_TRUE(EndsWith(Log(), ": Function is not supported\n"));
}

TEST_F(FlashWmi, OemDataKinds)
{
    Use(1);
    const std::vector<uint8_t> data = Pattern(300, 11);
    std::vector<uint8_t> copy = data;
    DWORD dwLen = 300;
    BYTE bOut = 0;
    DWORD dwStatus = 0xDEAD;
    // 2: the bytes go to the firmware's store through the payload. Of the
    // argument buffer the firmware sees the first 192 bytes cleared (the
    // header apart) and the rest as the owner left it.
    std::memset(block->WARGBuf, 0x5A, sizeof(block->WARGBuf));
    ASSERT_TRUE(block->OemData(OEMDATA_WRITE, 300, copy.data(), &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(dwStatus, 0u);
    ASSERT_EQ(firmware.argsReceived.size(), 1u);
    const std::vector<uint8_t>& arg = firmware.argsReceived[0];
    ASSERT_EQ(arg.size(), 256u);
    EXPECT_EQ(std::vector<uint8_t>(arg.begin() + 17, arg.begin() + 192),
              std::vector<uint8_t>(175, 0));
    EXPECT_EQ(std::vector<uint8_t>(arg.begin() + 192, arg.end()), std::vector<uint8_t>(64, 0x5A));
    EXPECT_EQ(model.OemData(), data);
    const VbEvent write = LastCall(0x81);
    EXPECT_EQ(write.dwB, 2u);
    EXPECT_EQ(write.dwC, PayloadAddress());
    EXPECT_EQ(write.dwD, 300u);

    // 3: and back.
    std::vector<uint8_t> read(300, 0);
    dwStatus = 0xDEAD;
    ASSERT_TRUE(block->OemData(OEMDATA_READ, 300, read.data(), &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(read, data);
    EXPECT_EQ(dwStatus, 0u);

    // 0: the store's size and format byte come back in the header.
    dwLen = 0;
    ASSERT_TRUE(block->OemData(OEMDATA_QUERY, 0, nullptr, &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(dwLen, 300u);
    EXPECT_EQ(bOut, 1);

    // 1: only the low 16 bits of the value travel.
    ASSERT_TRUE(block->OemData(OEMDATA_SET, 0x10005, nullptr, &dwLen, &bOut, &dwStatus));
    int32_t nSetting = 0;
    ASSERT_TRUE(model.GetKnob(VBK_OEM_SETTING, &nSetting));
    EXPECT_EQ(nSetting, 5);
    EXPECT_EQ(LastCall(0x81).dwD, 5u);

    // 4 and above, or more than the payload holds: no exchange at all.
    const size_t nExchanges = firmware.argsReceived.size();
    dwStatus = 0xDEAD;
    EXPECT_FALSE(block->OemData(4, 1, nullptr, &dwLen, &bOut, &dwStatus));
    dwLen = 4097;
    std::vector<uint8_t> tooMuch(4097);
    EXPECT_FALSE(block->OemData(OEMDATA_WRITE, 1, tooMuch.data(), &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(firmware.argsReceived.size(), nExchanges);
    EXPECT_EQ(dwStatus, 0xDEADu);
}

TEST_F(FlashWmi, OemDataRetryLimitAndFirmwareErrors)
{
    Use(0);
    DWORD dwLen = 0;
    BYTE bOut = 0;
    DWORD dwStatus = 0xDEAD;
    block->RetryLimit = 0;
    bool blResult = true;
    Captured out = CaptureOutput(
        [&] { blResult = block->OemData(OEMDATA_SET, 1, nullptr, &dwLen, &bOut, &dwStatus); });
    EXPECT_FALSE(blResult);
    EXPECT_EQ(out.out, "Retry 0 failed.\n");
    EXPECT_EQ(firmware.argsReceived.size(), 1u);
    EXPECT_EQ(dwStatus, 0xDEADu);

    // Completion after three exchanges is waited for.
    block->RetryLimit = 3;
    firmware.nCompleteAfter = 3;
    firmware.argsReceived.clear();
    EXPECT_TRUE(block->OemData(OEMDATA_SET, 1, nullptr, &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(firmware.argsReceived.size(), 3u);
    EXPECT_EQ(dwStatus, 0u);

    // Access denied: silent without debugging, reported with it; the
    // status left alone.
    firmware.nCompleteAfter = 1;
    firmware.nCompletedCalls = 0;
    firmware.nFailCall = 1;
    block->blDebug = false;
    dwStatus = 0xDEAD;
    out = CaptureOutput(
        [&] { blResult = block->OemData(OEMDATA_SET, 1, nullptr, &dwLen, &bOut, &dwStatus); });
    EXPECT_FALSE(blResult);
    EXPECT_EQ(dwStatus, 0xDEADu);
    EXPECT_EQ(out.out, "");
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(Log(), "");
    firmware.nCompletedCalls = 0;
    firmware.nFailCall = 1;
    block->blDebug = true;
    EXPECT_FALSE(block->OemData(OEMDATA_SET, 1, nullptr, &dwLen, &bOut, &dwStatus));
    EXPECT_EQ(dwStatus, 0xDEADu);
    EXPECT_TRUE(MatchesWithStamps(Log(), "@Access Denied.\n")) << Log();
}
