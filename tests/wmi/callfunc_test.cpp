// One buffer exchange over each transport: the ACPI-WMI classes (simulated
// BIOS), the GenericInterface COM server (the simulated server DLL, created
// by CoCreateInstance) and no transport; messages on their channels.
#include "sim/wmi_sim_bios.h"
#include "sim/wmi_test_responder.h"
#include "wmi/wmi_generic.h"
#include "wmi_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace
{

// A request as the protocol layer would send it: header, then a payload.
void FillRequest(WMIGeneric& block)
{
    std::fill(std::begin(block.WARGBuf), std::end(block.WARGBuf), 0);
    WmiBeginRequest(block.WARGBuf);
    block.WARGBuf[8] = 5;                        // SubFunction
    block.WARGBuf[9] = block.WARGBuf[10] = 0xAA; // marker
    std::vector<uint8_t> payload = Pattern(4096, 21);
    std::copy(payload.begin(), payload.end(), block.WPLDBuf);
}

std::vector<std::string> Queries(const SimWmiBios& bios)
{
    std::vector<std::string> queries;
    for (const std::string& call : bios.calls)
        if (call.rfind("ExecQuery ", 0) == 0)
            queries.push_back(
                call.substr(call.find("FROM ") + 5, call.rfind('|') - call.find("FROM ") - 5));
    return queries;
}

// A connected-looking object on the simulated BIOS: CallInterface 1, COM
// initialised once for it, pSvc the simulated services. Its destruction
// disconnects, which releases the services and ends that COM
// initialisation.
class CallFuncWmi : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        bios.pFirmware = &firmware;
        block = new WMIGeneric;
        block->CallInterface = 1;
        block->pSvc = bios.NewServices();
    }
    void TearDown() override
    {
        delete block;
        EXPECT_EQ(bios.lLiveObjects, 0);
        // The teardown ended COM for the connection.
        HRESULT hr = CoInitialize(nullptr);
        EXPECT_EQ(hr, S_OK);
        if (SUCCEEDED(hr))
            CoUninitialize();
    }

    WmiTestResponder firmware;
    SimWmiBios bios;
    WMIGeneric* block = nullptr;
};

} // namespace

TEST_F(CallFuncWmi, ExchangesBothBuffersInOrderAndDumpsTheReturn)
{
    firmware.wResult = 0x0102;
    firmware.payloadChanges = {{10, 0x99}};
    block->blDebug = true;
    FillRequest(*block);
    std::vector<uint8_t> argSent(block->WARGBuf, block->WARGBuf + 256);
    std::vector<uint8_t> payloadSent(block->WPLDBuf, block->WPLDBuf + 4096);

    bool blResult = false;
    // The sizes passed do not matter: exactly 256 and 4096 bytes move.
    Captured out =
        CaptureOutput([&] { blResult = block->CallFunc(block->WARGBuf, 17, block->WPLDBuf, 100); });
    EXPECT_TRUE(blResult);
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(out.out, "Call Func return:\n66 0 1 0 0 1 80 0 ");

    ASSERT_EQ(firmware.nExchanges, 1);
    EXPECT_EQ(firmware.argsReceived[0], argSent);
    EXPECT_EQ(firmware.payloadsReceived[0], payloadSent);
    std::vector<std::string> expected = {"MyWMIARGClass8", "MyWMIPayloadClass8", "MyWMIMethodClass",
                                         "MyWMIARGClass8", "MyWMIPayloadClass8"};
    EXPECT_EQ(Queries(bios), expected);
    EXPECT_EQ(block->WARGBuf[9], 0x02);
    EXPECT_EQ(block->WARGBuf[10], 0x01);
    EXPECT_EQ(block->WPLDBuf[10], 0x99);
    EXPECT_EQ(block->WPLDBuf[11], payloadSent[11]);
    EXPECT_EQ(bios.lLiveObjects, 1);
}

TEST_F(CallFuncWmi, NoDumpWithoutDebug)
{
    FillRequest(*block);
    bool blResult = false;
    Captured out = CaptureOutput(
        [&] { blResult = block->CallFunc(block->WARGBuf, 256, block->WPLDBuf, 4096); });
    EXPECT_TRUE(blResult);
    EXPECT_EQ(out.out, "");
    EXPECT_EQ(out.err, "");
}

TEST_F(CallFuncWmi, FirstFailingStepIsReportedOnStandardErrorAndEndsTheExchange)
{
    struct Case
    {
        int nQuery;
        const char* pszMessage;
    };
    const Case cases[] = {
        {1, "SetWARG - Error(14):WMIACPI_Set_WARG.ExecQuery fail"},
        {2, "SetWPLD - Error(22):WMIACPI_Set_WPLD.ExecQuery fail"},
        {3, "CallMethod - Error(31):WMIACPI_Call_Method.ExecQuery fail"},
        {4, "GetWARG - Error(10):WMIACPI_Get_WARG.ExecQuery fail"},
        {5, "GetWPLD - Error(18):WMIACPI_Get_WPLD.ExecQuery fail"},
    };
    block->blDebug = true;
    for (const Case& c : cases)
    {
        bios.nQueries = 0;
        bios.nFailingQuery = c.nQuery;
        bios.calls.clear();
        bool blResult = true;
        Captured out = CaptureOutput(
            [&] { blResult = block->CallFunc(block->WARGBuf, 256, block->WPLDBuf, 4096); });
        EXPECT_FALSE(blResult) << c.nQuery;
        EXPECT_EQ(out.err, c.pszMessage);
        EXPECT_EQ(out.out, "") << "no dump after a failed step";
        EXPECT_EQ(bios.nQueries, c.nQuery) << "later steps must not run";
    }
    EXPECT_EQ(bios.lLiveObjects, 1);
}

TEST_F(CallFuncWmi, EnumerateFailureNamesItsText)
{
    bios.Instances(kSimPayloadClass).clear();
    bool blResult = true;
    Captured out = CaptureOutput(
        [&] { blResult = block->CallFunc(block->WARGBuf, 256, block->WPLDBuf, 4096); });
    EXPECT_FALSE(blResult);
    EXPECT_EQ(out.err, "SetWPLD - Error(23):WMIACPI_Set_WPLD.Enumerate fail");
    EXPECT_EQ(firmware.nExchanges, 0);
}

TEST(CallFuncOther, NoTransportMakesNoExchangeButDumps)
{
    WmiTestResponder firmware;
    SimWmiBios bios(&firmware);
    WMIGeneric block;
    block.CallInterface = 2;
    block.pSvc = bios.NewServices();
    block.blDebug = true;
    FillRequest(block);
    std::vector<uint8_t> argBefore(block.WARGBuf, block.WARGBuf + 256);
    bool blResult = false;
    Captured out =
        CaptureOutput([&] { blResult = block.CallFunc(block.WARGBuf, 256, block.WPLDBuf, 4096); });
    EXPECT_TRUE(blResult);
    EXPECT_EQ(out.out, "Call Func return:\n66 0 1 0 0 1 0 0 ");
    EXPECT_EQ(out.err, "");
    EXPECT_TRUE(bios.calls.empty());
    EXPECT_EQ(std::vector<uint8_t>(block.WARGBuf, block.WARGBuf + 256), argBefore);
    block.pSvc->Release();
    block.pSvc = nullptr;
}

// GenericInterface: the server DLL is registered in this prefix for its
// class and loaded here as well, so the test configures the instance that
// CoCreateInstance uses.
class CallFuncGeneric : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dll.Loaded());
        ASSERT_EQ(dll.Register(), S_OK);
        dll.Configure(&firmware, 0);
        block.CallInterface = 0;
        FillRequest(block);
    }
    void TearDown() override
    {
        EXPECT_EQ(dll.LiveObjects(), 0) << "the GenericInterface object was not released";
        // Every exchange ended the COM initialisation it made.
        HRESULT hr = CoInitialize(nullptr);
        EXPECT_EQ(hr, S_OK);
        if (SUCCEEDED(hr))
            CoUninitialize();
    }

    bool Call(Captured* pOut)
    {
        bool blResult = false;
        *pOut = CaptureOutput(
            [&] { blResult = block.CallFunc(block.WARGBuf, 256, block.WPLDBuf, 77); });
        return blResult;
    }

    GenericSimDll dll;
    WmiTestResponder firmware;
    WMIGeneric block;
};

TEST_F(CallFuncGeneric, HandsBothBuffersToTheServer)
{
    firmware.wResult = 0x0304;
    firmware.payloadChanges = {{4095, 0x42}};
    block.blDebug = true;
    std::vector<uint8_t> argSent(block.WARGBuf, block.WARGBuf + 256);
    std::vector<uint8_t> payloadSent(block.WPLDBuf, block.WPLDBuf + 4096);
    DWORD dwCallsBefore = dll.Calls();
    Captured out;
    EXPECT_TRUE(Call(&out));
    EXPECT_EQ(out.out, "Call Func return:\n66 0 1 0 0 1 80 0 ");
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(dll.Calls(), dwCallsBefore + 1);
    EXPECT_EQ(dll.LastPayloadSize(), 4096u);
    ASSERT_EQ(firmware.nExchanges, 1);
    EXPECT_EQ(firmware.argsReceived[0], argSent);
    EXPECT_EQ(firmware.payloadsReceived[0], payloadSent);
    EXPECT_EQ(block.WARGBuf[9], 0x04);
    EXPECT_EQ(block.WARGBuf[10], 0x03);
    EXPECT_EQ(block.WPLDBuf[4095], 0x42);
}

TEST_F(CallFuncGeneric, StatusDecidesTheResult)
{
    Captured out;
    dll.Configure(&firmware, 0x80000008);
    EXPECT_TRUE(Call(&out));
    EXPECT_EQ(out.out, "");

    dll.Configure(&firmware, 0x8007001F);
    EXPECT_FALSE(Call(&out));
    EXPECT_EQ(out.out, "GENERIC_FUNCTION fail...Error:8007001f");

    // The dump comes first, then the failure.
    block.blDebug = true;
    dll.Configure(&firmware, 5);
    EXPECT_FALSE(Call(&out));
    EXPECT_EQ(out.out, "Call Func return:\n66 0 1 0 0 1 80 0 GENERIC_FUNCTION fail...Error:5");
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(firmware.nExchanges, 3);

    // A server without firmware behind it reports a failure status.
    block.blDebug = false;
    dll.Configure(nullptr, 0);
    EXPECT_FALSE(Call(&out));
    EXPECT_EQ(out.out, "GENERIC_FUNCTION fail...Error:80004005");
    EXPECT_EQ(firmware.nExchanges, 3);
}

TEST_F(CallFuncGeneric, NotRegisteredIsReportedOnStandardOutput)
{
    ASSERT_EQ(dll.Unregister(), S_OK);
    block.blDebug = true;
    std::vector<uint8_t> argBefore(block.WARGBuf, block.WARGBuf + 256);
    Captured out;
    EXPECT_FALSE(Call(&out));
    EXPECT_EQ(out.out, "\nGeneric Interface Not Found.\n");
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(firmware.nExchanges, 0);
    EXPECT_EQ(std::vector<uint8_t>(block.WARGBuf, block.WARGBuf + 256), argBefore);
    ASSERT_EQ(dll.Register(), S_OK);
}

TEST_F(CallFuncGeneric, LeavesTheCallersMultithreadedApartmentStanding)
{
    // CoInitialize is refused in a multithreaded apartment; the exchange
    // must then not end the owner's initialisation.
    bool blResult = false;
    HRESULT hrAfter = E_FAIL;
    std::thread worker(
        [&]
        {
            if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK)
                return;
            blResult = block.CallFunc(block.WARGBuf, 256, block.WPLDBuf, 4096);
            hrAfter = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(hrAfter))
                CoUninitialize();
            CoUninitialize();
        });
    worker.join();
    EXPECT_TRUE(blResult);
    EXPECT_EQ(hrAfter, S_FALSE) << "the owner's COM initialisation was ended";
    EXPECT_EQ(firmware.nExchanges, 1);
}
