// Against Wine's own WMI service, which has ROOT\WMI but none of the BIOS
// classes: connecting, what the primitives report there, and that
// disconnecting and teardown give everything back.
#include "driver/console.h"
#include "driver/globals.h"
#include "wmi/wmi_generic.h"
#include "wmi_test_support.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace
{

// References held on a COM object, read without changing them.
ULONG References(IUnknown* pUnknown)
{
    pUnknown->AddRef();
    return pUnknown->Release();
}

// True when this thread's COM initialisations are all ended.
bool ComEndedOnThisThread()
{
    HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK;
}

} // namespace

TEST(RealWmi, ConnectsAndFindsNoBiosClasses)
{
    WMIGeneric block;
    ASSERT_EQ(block.ConnectWmiAcpi(), 0u);
    EXPECT_EQ(block.CallInterface, 1u);
    ASSERT_NE(block.pSvc, nullptr);
    ASSERT_NE(block.pLoc, nullptr);

    std::vector<uint8_t> arg = Pattern(256, 1);
    EXPECT_EQ(FailingPrimitiveCodes(block), (std::vector<DWORD>{11, 15, 19, 23, 32}));
    // The primitives kept no reference: the object still holds just its own.
    EXPECT_EQ(References(block.pSvc), 1u);
    EXPECT_EQ(References(block.pLoc), 1u);

    bool blResult = true;
    Captured out =
        CaptureOutput([&] { blResult = block.CallFunc(block.WARGBuf, 256, block.WPLDBuf, 4096); });
    EXPECT_FALSE(blResult);
    EXPECT_EQ(out.err, "SetWARG - Error(15):WMIACPI_Set_WARG.Enumerate fail");
    EXPECT_EQ(out.out, "");

    block.DisconnectWmiAcpi();
    EXPECT_EQ(block.pSvc, nullptr);
    EXPECT_EQ(block.pLoc, nullptr);
    EXPECT_TRUE(ComEndedOnThisThread());
    EXPECT_EQ(block.WMIACPI_Get_WARG(arg.data(), 256), 8u);
    EXPECT_EQ(block.WMIACPI_Call_Method(), 30u);
}

TEST(RealWmi, DisconnectingTwiceEndsComOnce)
{
    ASSERT_EQ(CoInitialize(nullptr), S_OK); // the owner's own initialisation
    {
        WMIGeneric block;
        ASSERT_EQ(block.ConnectWmiAcpi(), 0u); // accepted although COM was up
        block.DisconnectWmiAcpi();
        block.DisconnectWmiAcpi();
        // Destruction with CallInterface 1 disconnects once more: nothing left.
    }
    EXPECT_FALSE(ComEndedOnThisThread()) << "the owner's initialisation was ended too";
    CoUninitialize();
    EXPECT_TRUE(ComEndedOnThisThread());
}

TEST(RealWmi, ReconnectsAfterDisconnecting)
{
    WMIGeneric block;
    ASSERT_EQ(block.ConnectWmiAcpi(), 0u);
    block.DisconnectWmiAcpi();
    // Process-wide COM security is already set now; that is no failure.
    ASSERT_EQ(block.ConnectWmiAcpi(), 0u);
    EXPECT_NE(block.pSvc, nullptr);
    block.DisconnectWmiAcpi();
    EXPECT_TRUE(ComEndedOnThisThread());
}

TEST(RealWmi, ConnectingAgainGivesUpTheFirstConnection)
{
    WMIGeneric block;
    ASSERT_EQ(block.ConnectWmiAcpi(), 0u);
    IWbemServices* pFirst = block.pSvc;
    pFirst->AddRef(); // keeps it alive to look at
    ASSERT_EQ(block.ConnectWmiAcpi(), 0u);
    EXPECT_EQ(References(pFirst), 1u) << "the first services were not released";
    pFirst->Release();
    block.DisconnectWmiAcpi();
    EXPECT_TRUE(ComEndedOnThisThread()) << "the first connection's COM was not ended";
}

TEST(RealWmi, ExitTeardownDisconnectsAndDestroysOnce)
{
    g_pBlock = new WMIGeneric;
    ASSERT_EQ(g_pBlock->ConnectWmiAcpi(), 0u);
    ReleaseRunResources();
    EXPECT_EQ(g_pBlock, nullptr);
    EXPECT_TRUE(ComEndedOnThisThread());
}

TEST(RealWmi, DestructionOfAConnectedObjectDisconnects)
{
    auto* pBlock = new WMIGeneric;
    ASSERT_EQ(pBlock->ConnectWmiAcpi(), 0u);
    delete pBlock;
    EXPECT_TRUE(ComEndedOnThisThread());
}

TEST(RealWmi, RefusedCoInitializeLeavesTheObjectDisconnected)
{
    // A thread already in the multithreaded apartment refuses CoInitialize.
    DWORD dwCode = 0;
    HRESULT hrAfter = E_FAIL;
    WMIGeneric block;
    std::thread worker(
        [&]
        {
            if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK)
                return;
            dwCode = block.ConnectWmiAcpi();
            hrAfter = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(hrAfter))
                CoUninitialize();
            CoUninitialize();
        });
    worker.join();
    EXPECT_EQ(dwCode, 1u);
    EXPECT_STREQ(WMIGeneric::WmiErrorName(dwCode), "CoInitialize fail");
    EXPECT_EQ(block.pSvc, nullptr);
    EXPECT_EQ(block.pLoc, nullptr);
    EXPECT_EQ(block.CallInterface, 0u);
    EXPECT_EQ(hrAfter, S_FALSE) << "the thread's own initialisation must stand";
}
