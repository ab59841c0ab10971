// CallWmiFunction over the simulated BIOS classes with the header-protocol
// responder: what each code puts into the request, how exchanges are
// counted against RetryLimit, and how the firmware's answer is judged.
#include "access/function_codes.h"
#include "sim/wmi_sim_bios.h"
#include "sim/wmi_test_responder.h"
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

uint16_t Word(const std::vector<uint8_t>& b, size_t o)
{
    return static_cast<uint16_t>(b[o] | b[o + 1] << 8);
}

uint32_t Dword(const std::vector<uint8_t>& b, size_t o)
{
    return static_cast<uint32_t>(b[o] | b[o + 1] << 8 | b[o + 2] << 16 | b[o + 3] << 24);
}

// A connected-looking object over the simulated classes (CallInterface 1);
// its destruction disconnects and ends the COM initialisation made here.
class WmiFunction : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        bios.pFirmware = &firmware;
        block = new WMIGeneric;
        block->CallInterface = 1;
        block->pSvc = bios.NewServices();
        block->RetryLimit = 5;
        pLog = std::tmpfile();
        ASSERT_NE(pLog, nullptr);
        block->ppLogFile = &pLog;
    }
    void TearDown() override
    {
        delete block;
        std::fclose(pLog);
        EXPECT_EQ(bios.lLiveObjects, 0);
    }

    bool Call(DWORD dwCode, DWORD dwArgument, DWORD* pdwResult, Captured* pOut = nullptr)
    {
        bool blResult = false;
        Captured out = CaptureOutput(
            [&] { blResult = block->CallWmiFunction(dwCode, dwArgument, pdwResult); });
        if (pOut)
            *pOut = out;
        return blResult;
    }

    void NewResponder() { firmware = WmiTestResponder(); }

    WmiTestResponder firmware;
    SimWmiBios bios;
    WMIGeneric* block = nullptr;
    FILE* pLog = nullptr;
};

} // namespace

TEST_F(WmiFunction, EachCodeFillsItsRowOfTheRequest)
{
    struct Row
    {
        DWORD dwCode;
        DWORD dwArgument;
        uint8_t bSub;
        uint16_t wParam;
        uint32_t dwParam;
        uint16_t wLength;
        bool blKeepsPayload;
    };
    const Row rows[] = {
        {FLSH, 0x12345678, 0, 0x5678, 0, 0, false},
        {FINI, 0x12345678, 1, 0xAAAA, 0x12345678, 0, false},
        {FERS, 0x00010002, 2, 0x0002, 0, 0, false},
        {FWRI, 0x11, 3, 0xAAAA, 0x11, 0x1000, false},
        {FWRP, 0x11, 3, 0xAAAA, 0, 0x1000, false},
        {FEBW, 7, 4, 0xAAAA, 7, 0, true},
        {FEBR, 7, 5, 0xAAAA, 7, 0, false},
        {FEDW, 7, 6, 0xAAAA, 0, 0, false},
        {ECSR, 1, 7, 0x0001, 0, 0, false},
        {GDMI, 0x99, 7, 0xAAAA, 0x99, 0, false},
        {FLSC, 1, 8, 0x0001, 0, 0, true},
        {FLSC, 0, 8, 0x0000, 0, 0, false},
    };
    const std::vector<uint8_t> payload = Pattern(4096, 3);
    for (const Row& row : rows)
    {
        NewResponder();
        firmware.wResult = 0x0102;
        std::memset(block->WARGBuf, 0x5A, sizeof(block->WARGBuf));
        std::copy(payload.begin(), payload.end(), block->WPLDBuf);
        DWORD dwResult = 0xDEAD;
        ASSERT_TRUE(Call(row.dwCode, row.dwArgument, &dwResult)) << std::hex << row.dwCode;
        EXPECT_EQ(dwResult, row.dwCode == FLSH ? 0u : 0x0102u);

        ASSERT_EQ(firmware.nExchanges, 1);
        const std::vector<uint8_t>& arg = firmware.argsReceived[0];
        const std::vector<uint8_t> head = {0x66, 0, 1, 0, 0, 1, 0, 0};
        EXPECT_EQ(std::vector<uint8_t>(arg.begin(), arg.begin() + 8), head);
        EXPECT_EQ(arg[8], row.bSub) << std::hex << row.dwCode;
        EXPECT_EQ(Word(arg, 9), row.wParam) << std::hex << row.dwCode;
        EXPECT_EQ(Dword(arg, 11), row.dwParam) << std::hex << row.dwCode;
        EXPECT_EQ(Word(arg, 15), row.wLength) << std::hex << row.dwCode;
        // 192 bytes are cleared; the rest of the argument buffer is left.
        EXPECT_EQ(std::vector<uint8_t>(arg.begin() + 17, arg.begin() + 192),
                  std::vector<uint8_t>(175, 0));
        EXPECT_EQ(std::vector<uint8_t>(arg.begin() + 192, arg.end()),
                  std::vector<uint8_t>(64, 0x5A));

        const std::vector<uint8_t>& sent = firmware.payloadsReceived[0];
        if (row.blKeepsPayload)
            EXPECT_EQ(sent, payload) << std::hex << row.dwCode;
        else if (row.dwCode == FINI)
        {
            const uint8_t abHeader[32] = {0x5F, 0x46, 0x54, 0x5F, 32, 0, 0,    1,
                                          0x00, 0x04, 0,    0,    9,  3, 0x01, 0x09,
                                          0x10, 0x20, 0,    0,    0,  0};
            EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 32),
                      std::vector<uint8_t>(abHeader, abHeader + 32));
            EXPECT_EQ(std::vector<uint8_t>(sent.begin() + 32, sent.end()),
                      std::vector<uint8_t>(4096 - 32, 0));
        }
        else
            EXPECT_EQ(sent, std::vector<uint8_t>(4096, 0)) << std::hex << row.dwCode;
    }

    // Revision 0x20 changes the interface word and the fill of the header.
    NewResponder();
    block->blForceVer20 = true;
    DWORD dwResult = 0;
    ASSERT_TRUE(Call(FINI, 0, &dwResult));
    const std::vector<uint8_t>& sent = firmware.payloadsReceived[0];
    EXPECT_EQ(Dword(sent, 8), 0x00000501u);
    EXPECT_EQ(std::vector<uint8_t>(sent.begin() + 22, sent.begin() + 32),
              std::vector<uint8_t>(10, 0xFF));
}

TEST_F(WmiFunction, RetryLimitCountsExchangesAndDiscardsTheOnePastIt)
{
    Captured out;
    DWORD dwResult = 0xDEAD;

    // 0: the one exchange is made and its completed answer thrown away.
    block->RetryLimit = 0;
    firmware.wResult = 7;
    EXPECT_FALSE(Call(FEBR, 1, &dwResult, &out));
    EXPECT_EQ(out.out, "Retry 0 failed.\n");
    EXPECT_EQ(firmware.nExchanges, 1);
    EXPECT_EQ(dwResult, 0xDEADu);

    // 1, completing at once: its one exchange counts.
    NewResponder();
    block->RetryLimit = 1;
    firmware.wResult = 7;
    EXPECT_TRUE(Call(FEBR, 1, &dwResult, &out));
    EXPECT_EQ(out.out, "");
    EXPECT_EQ(firmware.nExchanges, 1);
    EXPECT_EQ(dwResult, 7u);

    // 1, never completing: a second exchange, then the failure.
    NewResponder();
    firmware.nCompleteAfter = 0;
    dwResult = 0xDEAD;
    EXPECT_FALSE(Call(FEBR, 1, &dwResult, &out));
    EXPECT_EQ(out.out, "Retry 1 failed.\n");
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(firmware.nExchanges, 2);
    EXPECT_EQ(dwResult, 0xDEADu);

    // Busy twice, complete on the third: each exchange is a fresh request
    // that keeps what the previous one read back in unwritten fields.
    NewResponder();
    block->RetryLimit = 3;
    firmware.nCompleteAfter = 3;
    firmware.wResult = 0x44;
    EXPECT_TRUE(Call(FEBR, 9, &dwResult, &out));
    EXPECT_EQ(out.out, "");
    ASSERT_EQ(firmware.nExchanges, 3);
    for (const std::vector<uint8_t>& arg : firmware.argsReceived)
    {
        EXPECT_EQ(arg[6], 0) << "Status is cleared before every exchange";
        EXPECT_EQ(Word(arg, 9), 0xAAAA);
        EXPECT_EQ(Dword(arg, 11), 9u);
    }
    EXPECT_EQ(dwResult, 0x44u);
}

TEST_F(WmiFunction, FirmwareErrorsAndTheStandingMarkerFail)
{
    block->blDebug = true;
    DWORD dwResult = 0xDEAD;
    firmware.blFail = true;
    const std::pair<uint8_t, const char*> errors[] = {{1, "Function is not supported\n"},
                                                      {2, "Buffer size is insufficient\n"},
                                                      {4, "Access Denied.\n"},
                                                      {3, "Unknown error.\n"}};
    for (const auto& error : errors)
    {
        firmware.bErrorCode = error.first;
        EXPECT_FALSE(Call(FEBR, 1, &dwResult));
        // The text follows the raw dump of the refused header.
        const std::string log = StreamContents(pLog);
        const std::string raw =
            std::string("\x66\x00\x01\x00\x00\x01\x82", 7) + static_cast<char>(error.first) + "\n";
        EXPECT_NE(log.find(raw), std::string::npos) << +error.first;
        EXPECT_TRUE(EndsWith(log, std::string(": ") + error.second)) << log;
    }
    EXPECT_EQ(dwResult, 0xDEADu);

    // Without debug output each failure is silent, on every channel.
    block->blDebug = false;
    long lBefore = std::ftell(pLog);
    for (const auto& error : errors)
    {
        firmware.bErrorCode = error.first;
        Captured out;
        EXPECT_FALSE(Call(FEBR, 1, &dwResult, &out));
        EXPECT_EQ(out.out, "") << +error.first;
        EXPECT_EQ(out.err, "") << +error.first;
    }
    EXPECT_EQ(std::ftell(pLog), lBefore);

    // The marker left standing is no answer, whatever the code ...
    NewResponder();
    firmware.blLeaveParamWord = true;
    block->blDebug = true;
    std::fseek(pLog, 0, SEEK_END);
    lBefore = std::ftell(pLog);
    EXPECT_FALSE(Call(FEBR, 1, &dwResult));
    const std::string tail = StreamContents(pLog).substr(static_cast<size_t>(lBefore));
    EXPECT_TRUE(EndsWith(tail, ": 0xAA not change!\n")) << tail;
    // ... a low word of 0xAAAA too, even for FLSH ...
    EXPECT_FALSE(Call(FLSH, 0xAAAA, &dwResult));
    EXPECT_EQ(dwResult, 0xDEADu);
    // ... but any other FLSH answer is a result of 0.
    NewResponder();
    firmware.wResult = 0x1234;
    EXPECT_TRUE(Call(FLSH, 1, &dwResult));
    EXPECT_EQ(dwResult, 0u);
    firmware.wResult = 0x0100;
    EXPECT_TRUE(Call(FEBR, 1, &dwResult));
    EXPECT_EQ(dwResult, 256u);
}

TEST_F(WmiFunction, DebugOutputDumpsTheRawReturnHeader)
{
    block->blDebug = true;
    firmware.wResult = 0x0201;
    DWORD dwResult = 0;
    Captured out;
    ASSERT_TRUE(Call(ECSR, 1, &dwResult, &out));
    EXPECT_EQ(out.out, "Call Func return:\n66 0 1 0 0 1 80 0 ");
    const std::string log = StreamContents(pLog);
    const std::string raw("\x66\x00\x01\x00\x00\x01\x80\x00\n", 9);
    ASSERT_GT(log.size(), raw.size());
    EXPECT_EQ(log.substr(log.size() - raw.size()), raw);
    EXPECT_TRUE(MatchesWithStamps(log.substr(0, log.size() - raw.size()),
                                  "@WMI function 45435352. return header= \n"));
}

TEST_F(WmiFunction, RefusedCodesMakeNoExchange)
{
    block->blDebug = true;
    for (DWORD dwCode : {static_cast<DWORD>(OEMD), 0x12345678ul, 0ul})
    {
        std::memset(block->WPLDBuf, 0x77, sizeof(block->WPLDBuf));
        DWORD dwResult = 0xDEAD;
        Captured out;
        EXPECT_FALSE(Call(dwCode, 1, &dwResult, &out));
        EXPECT_EQ(out.out, "");
        EXPECT_EQ(out.err, "");
        EXPECT_EQ(dwResult, 0xDEADu);
        EXPECT_EQ(block->WPLDBuf[100], 0) << "the payload was cleared first";
    }
    EXPECT_EQ(firmware.nExchanges, 0);
    EXPECT_EQ(bios.nMethodRuns, 0);
    EXPECT_EQ(StreamContents(pLog), "");
}
