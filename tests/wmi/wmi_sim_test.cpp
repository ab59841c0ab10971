// The five WMI-ACPI primitives against the simulated BIOS classes: codes,
// what reached the WMI service and in which order, buffer contents, faults,
// and that every COM object the primitives took was released.
#include "sim/wmi_sim_bios.h"
#include "sim/wmi_test_responder.h"
#include "wmi/wmi_generic.h"
#include "wmi_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

const std::string kArgPath = "\\\\SIMBIOS\\ROOT\\WMI:MyWMIARGClass8.InstanceName=\"WMI0_0\"";
const std::string kPayloadPath =
    "\\\\SIMBIOS\\ROOT\\WMI:MyWMIPayloadClass8.InstanceName=\"WMI0_0\"";
const std::string kMethodPath = "\\\\SIMBIOS\\ROOT\\WMI:MyWMIMethodClass.InstanceName=\"WMI0_0\"";

SimVariant Int32(LONG lValue)
{
    VARIANT var;
    VariantInit(&var);
    V_VT(&var) = VT_I4;
    V_I4(&var) = lValue;
    return SimVariant(var);
}

// An array of 32-bit integers: an array, but not of bytes.
SimVariant Int32Array(ULONG cElements)
{
    VARIANT var;
    VariantInit(&var);
    V_VT(&var) = VT_ARRAY | VT_I4;
    V_ARRAY(&var) = SafeArrayCreateVector(VT_I4, 0, cElements);
    SimVariant result(var);
    VariantClear(&var);
    return result;
}

// A WMIGeneric whose pSvc is the simulated BIOS. CallInterface stays 0, so
// the object owns no connection and its destruction leaves pSvc alone; the
// fixture releases it and then checks that nothing else is alive.
class SimPrimitives : public testing::Test
{
protected:
    void SetUp() override { block.pSvc = bios.NewServices(); }
    void TearDown() override
    {
        if (block.pSvc)
            block.pSvc->Release();
        block.pSvc = nullptr;
        EXPECT_EQ(bios.lLiveObjects, 0) << "a WMI object was not released";
    }

    // Only the services object may be alive between primitives.
    void ExpectOnlyServicesAlive() { EXPECT_EQ(bios.lLiveObjects, 1); }

    SimWmiBios bios;
    WMIGeneric block;
};

} // namespace

TEST(WmiPrimitives, WithoutServicesEachReportsItsCodeAndLeavesTheBuffer)
{
    WMIGeneric block;
    EXPECT_EQ(FailingPrimitiveCodes(block), (std::vector<DWORD>{8, 12, 16, 20, 30}));
}

TEST_F(SimPrimitives, SetWargStoresTheBufferThroughTheSteps)
{
    std::vector<uint8_t> arg = Pattern(256, 9);
    EXPECT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
    EXPECT_EQ(bios.ByteArray(kSimArgClass, 0, L"WAG8"), arg);
    std::vector<std::string> expected = {"ExecQuery WQL|SELECT * FROM MyWMIARGClass8|10",
                                         "GetObject " + kArgPath, "Put WAG8|0|0",
                                         "PutInstance " + kArgPath + "|1"};
    EXPECT_EQ(bios.calls, expected);
    // One instance taken, with an infinite time-out.
    ASSERT_EQ(bios.nextArguments.size(), 1u);
    EXPECT_EQ(static_cast<DWORD>(bios.nextArguments[0].first), WBEM_INFINITE);
    EXPECT_EQ(bios.nextArguments[0].second, 1u);
    ExpectOnlyServicesAlive();
}

TEST_F(SimPrimitives, BuffersRoundTripThroughBothClasses)
{
    std::vector<uint8_t> arg = Pattern(256, 1), payload = Pattern(4096, 2);
    ASSERT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
    ASSERT_EQ(block.WMIACPI_Set_WPLD(payload.data(), 4096), 0u);
    EXPECT_EQ(bios.ByteArray(kSimPayloadClass, 0, L"WPD8"), payload);

    std::vector<uint8_t> argBack(256), payloadBack(4096);
    EXPECT_EQ(block.WMIACPI_Get_WARG(argBack.data(), 256), 0u);
    EXPECT_EQ(block.WMIACPI_Get_WPLD(payloadBack.data(), 4096), 0u);
    EXPECT_EQ(argBack, arg);
    EXPECT_EQ(payloadBack, payload);
    // A Get stores nothing.
    EXPECT_EQ(bios.calls.back(), "GetObject " + kPayloadPath);
    ExpectOnlyServicesAlive();
}

TEST_F(SimPrimitives, LongerArrayIsTouchedOnlyInItsFirstBytes)
{
    std::vector<uint8_t> stored(300, 0x5A);
    bios.Instances(kSimArgClass)[0].properties[L"WAG8"] = SimVariant::Bytes(stored);
    std::vector<uint8_t> arg = Pattern(256, 7);
    ASSERT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
    std::vector<uint8_t> expected = arg;
    expected.resize(300, 0x5A); // the rest is written back unchanged
    EXPECT_EQ(bios.ByteArray(kSimArgClass, 0, L"WAG8"), expected);

    std::vector<uint8_t> back(260, 0xEE); // 4 guard bytes past the buffer
    ASSERT_EQ(block.WMIACPI_Get_WARG(back.data(), 256), 0u);
    EXPECT_TRUE(std::equal(arg.begin(), arg.end(), back.begin()));
    EXPECT_EQ(std::vector<uint8_t>(back.begin() + 256, back.end()), std::vector<uint8_t>(4, 0xEE));
}

TEST_F(SimPrimitives, NoInstanceGivesTheEnumerateCodes)
{
    bios.Instances(kSimArgClass).clear();
    bios.Instances(kSimPayloadClass).clear();
    bios.Instances(kSimMethodClass).clear();
    EXPECT_EQ(FailingPrimitiveCodes(block), (std::vector<DWORD>{11, 15, 19, 23, 32}));
    EXPECT_EQ(bios.nMethodRuns, 0);
    ExpectOnlyServicesAlive(); // the enumerators went too
}

TEST_F(SimPrimitives, FailingQueryGivesTheQueryCodes)
{
    // Any result but S_OK is a failure, a positive one included.
    bios.queryFailures[kSimArgClass] = WBEM_E_ACCESS_DENIED;
    bios.queryFailures[kSimPayloadClass] = S_FALSE;
    bios.queryFailures[kSimMethodClass] = WBEM_E_INVALID_CLASS;
    EXPECT_EQ(FailingPrimitiveCodes(block), (std::vector<DWORD>{10, 14, 18, 22, 31}));
    EXPECT_TRUE(bios.nextArguments.empty());
    ExpectOnlyServicesAlive();
}

TEST_F(SimPrimitives, FirstInstanceWithoutThePropertyIsSkipped)
{
    auto& instances = bios.Instances(kSimArgClass);
    instances.clear();
    bios.AddInstance(kSimArgClass, L"first"); // no WAG8
    bios.AddInstance(kSimArgClass, L"second").properties[L"WAG8"] =
        SimVariant::Bytes(std::vector<uint8_t>(256));
    std::vector<uint8_t> arg = Pattern(256, 11);
    EXPECT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
    EXPECT_EQ(bios.ByteArray(kSimArgClass, 1, L"WAG8"), arg);
    std::vector<std::string> expected = {"ExecQuery WQL|SELECT * FROM MyWMIARGClass8|10",
                                         "GetObject first", "GetObject second", "Put WAG8|0|0",
                                         "PutInstance second|1"};
    EXPECT_EQ(bios.calls, expected);
    ExpectOnlyServicesAlive();

    // The Get skips it the same way and reads the second instance's bytes.
    bios.Instances(kSimArgClass)[1].properties[L"WAG8"] = SimVariant::Bytes(Pattern(256, 21));
    std::vector<uint8_t> back(256, 0xEE);
    EXPECT_EQ(block.WMIACPI_Get_WARG(back.data(), 256), 0u);
    EXPECT_EQ(back, Pattern(256, 21));
    ExpectOnlyServicesAlive();
}

TEST_F(SimPrimitives, OnlyTheFirstUsableInstanceIsWritten)
{
    bios.AddInstance(kSimArgClass, L"later").properties[L"WAG8"] =
        SimVariant::Bytes(std::vector<uint8_t>(256, 0x11));
    std::vector<uint8_t> arg = Pattern(256, 12);
    EXPECT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
    EXPECT_EQ(bios.ByteArray(kSimArgClass, 0, L"WAG8"), arg);
    EXPECT_EQ(bios.ByteArray(kSimArgClass, 1, L"WAG8"), std::vector<uint8_t>(256, 0x11));
    EXPECT_EQ(bios.nextArguments.size(), 1u); // the later one was never taken
}

TEST_F(SimPrimitives, UnusableInstancesAreSkippedAndNeverOverrun)
{
    // Too short, not an array, an array of another type, no path, a path
    // that cannot be fetched: each is passed over, then the good one is used.
    auto& instances = bios.Instances(kSimPayloadClass);
    instances.clear();
    std::vector<uint8_t> shortArray = Pattern(4095, 1);
    bios.AddInstance(kSimPayloadClass, L"short").properties[L"WPD8"] =
        SimVariant::Bytes(shortArray);
    bios.AddInstance(kSimPayloadClass, L"scalar").properties[L"WPD8"] = Int32(5);
    bios.AddInstance(kSimPayloadClass, L"ints").properties[L"WPD8"] = Int32Array(4096);
    bios.AddInstance(kSimPayloadClass, L"nopath").properties.erase(L"__PATH");
    bios.Instances(kSimPayloadClass).back().properties[L"WPD8"] =
        SimVariant::Bytes(std::vector<uint8_t>(4096));
    bios.AddInstance(kSimPayloadClass, L"gone").properties[L"WPD8"] =
        SimVariant::Bytes(std::vector<uint8_t>(4096));
    bios.failingPaths.push_back(L"gone");
    bios.AddInstance(kSimPayloadClass, L"good").properties[L"WPD8"] =
        SimVariant::Bytes(std::vector<uint8_t>(4096));

    std::vector<uint8_t> payload = Pattern(4096, 13);
    EXPECT_EQ(block.WMIACPI_Set_WPLD(payload.data(), 4096), 0u);
    EXPECT_EQ(bios.ByteArray(kSimPayloadClass, 0, L"WPD8"), shortArray);
    EXPECT_EQ(bios.ByteArray(kSimPayloadClass, 5, L"WPD8"), payload);
    EXPECT_EQ(bios.nextArguments.size(), 6u);
    std::vector<std::string> stores;
    for (const std::string& call : bios.calls)
        if (call.rfind("PutInstance", 0) == 0)
            stores.push_back(call);
    EXPECT_EQ(stores, std::vector<std::string>{"PutInstance good|1"});
    ExpectOnlyServicesAlive();

    // Without the good one nothing is usable: the Get leaves the buffer.
    bios.Instances(kSimPayloadClass).pop_back();
    std::vector<uint8_t> back = Pattern(4096, 14);
    EXPECT_EQ(block.WMIACPI_Get_WPLD(back.data(), 4096), 19u);
    EXPECT_EQ(back, Pattern(4096, 14));
    EXPECT_EQ(block.WMIACPI_Set_WPLD(payload.data(), 4096), 23u);
    EXPECT_EQ(bios.ByteArray(kSimPayloadClass, 0, L"WPD8"), shortArray);
    ExpectOnlyServicesAlive();
}

TEST_F(SimPrimitives, RefusedPutInstanceStillReportsSuccess)
{
    bios.hrPutInstance = WBEM_E_ACCESS_DENIED;
    std::vector<uint8_t> arg = Pattern(256, 15);
    EXPECT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
    EXPECT_EQ(bios.calls.back(), "PutInstance " + kArgPath + "|1");
    EXPECT_EQ(bios.ByteArray(kSimArgClass, 0, L"WAG8"), std::vector<uint8_t>(256));
    // The payload's Set alike.
    std::vector<uint8_t> payload = Pattern(4096, 16);
    EXPECT_EQ(block.WMIACPI_Set_WPLD(payload.data(), 4096), 0u);
    EXPECT_EQ(bios.calls.back(), "PutInstance " + kPayloadPath + "|1");
    EXPECT_EQ(bios.ByteArray(kSimPayloadClass, 0, L"WPD8"), std::vector<uint8_t>(4096));
    ExpectOnlyServicesAlive();
}

TEST_F(SimPrimitives, CallMethodExecutesMyFn1WithIndex8)
{
    WmiTestResponder firmware;
    bios.pFirmware = &firmware;
    EXPECT_EQ(block.WMIACPI_Call_Method(), 0u);
    std::vector<std::string> expected = {"ExecQuery WQL|SELECT * FROM MyWMIMethodClass|10",
                                         "GetObject MyWMIMethodClass",
                                         "GetMethod MyFn1",
                                         "SpawnInstance",
                                         "Put Indx|0|0",
                                         "ExecMethod " + kMethodPath + "|MyFn1|Indx=8|0"};
    EXPECT_EQ(bios.calls, expected);
    EXPECT_EQ(bios.nMethodRuns, 1);
    EXPECT_EQ(firmware.nExchanges, 1);
    // The in-parameters, signatures, class object and out-parameters all went.
    ExpectOnlyServicesAlive();
    EXPECT_GE(bios.lObjectsMade, 7);
}

TEST_F(SimPrimitives, CallMethodFaults)
{
    // A refused method call is not examined.
    bios.hrExecMethod = WBEM_E_ACCESS_DENIED;
    EXPECT_EQ(block.WMIACPI_Call_Method(), 0u);
    EXPECT_EQ(bios.nMethodRuns, 0);
    ExpectOnlyServicesAlive();

    // Without the class object no instance can be used.
    bios.hrExecMethod = S_OK;
    bios.blNoMethodClassObject = true;
    EXPECT_EQ(block.WMIACPI_Call_Method(), 32u);
    EXPECT_EQ(bios.nMethodRuns, 0);
    ExpectOnlyServicesAlive();
}

TEST_F(SimPrimitives, FirmwareActsOnWhatWasStored)
{
    WmiTestResponder firmware;
    firmware.wResult = 0x0100;
    firmware.payloadChanges = {{0, 0xC3}, {4095, 0x3C}};
    bios.pFirmware = &firmware;

    std::vector<uint8_t> arg(256), payload = Pattern(4096, 16);
    WmiBeginRequest(arg.data());
    arg[8] = 5; // SubFunction
    arg[9] = arg[10] = 0xAA;
    ASSERT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
    ASSERT_EQ(block.WMIACPI_Set_WPLD(payload.data(), 4096), 0u);
    ASSERT_EQ(block.WMIACPI_Call_Method(), 0u);
    ASSERT_EQ(firmware.nExchanges, 1);
    EXPECT_EQ(firmware.argsReceived[0], arg);
    EXPECT_EQ(firmware.payloadsReceived[0], payload);

    std::vector<uint8_t> argBack(256), payloadBack(4096);
    ASSERT_EQ(block.WMIACPI_Get_WARG(argBack.data(), 256), 0u);
    ASSERT_EQ(block.WMIACPI_Get_WPLD(payloadBack.data(), 4096), 0u);
    WmiCallHeader header = WmiReadHeader(argBack.data());
    EXPECT_EQ(+header.Status, 0x80); // copies: the fields are packed
    EXPECT_EQ(+header.ParamWord, 0x0100);
    EXPECT_EQ(payloadBack[0], 0xC3);
    EXPECT_EQ(payloadBack[4095], 0x3C);
    EXPECT_TRUE(std::equal(payload.begin() + 1, payload.end() - 1, payloadBack.begin() + 1));
}
