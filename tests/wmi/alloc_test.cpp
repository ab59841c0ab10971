// No BSTR, VARIANT or SAFEARRAY memory is left behind by the primitives. OLE
// automation takes that memory from the COM task allocator, which a malloc
// spy can watch; the test runs with OANOCACHE=1 so that freed strings go
// back to the allocator at once instead of into oleaut32's string cache.
#include "sim/wmi_sim_bios.h"
#include "sim/wmi_test_responder.h"
#include "wmi/wmi_generic.h"
#include "wmi_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

// Counts the task-allocator blocks alive, as seen from the spy's hooks.
class CountingSpy : public IMallocSpy
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy))
        {
            *ppv = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
    void* STDMETHODCALLTYPE PostAlloc(void* pActual) override
    {
        if (pActual)
            ++lLive;
        return pActual;
    }
    void* STDMETHODCALLTYPE PreFree(void* pRequest, BOOL fSpyed) override
    {
        if (pRequest && fSpyed)
            --lLive;
        return pRequest;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest,
                                        BOOL) override
    {
        *ppNewRequest = pRequest;
        return cbRequest;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* pActual, BOOL) override { return pActual; }
    void* STDMETHODCALLTYPE PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

    long lLive = 0;
};

} // namespace

TEST(WmiAllocations, PrimitivesAndExchangeLeaveNoAutomationMemory)
{
    ASSERT_GT(GetEnvironmentVariableA("OANOCACHE", nullptr, 0), 0u)
        << "run with OANOCACHE=1, or cached strings look like leaks";
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    CountingSpy spy;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    {
        WmiTestResponder firmware;
        SimWmiBios bios(&firmware);
        WMIGeneric block;
        block.pSvc = bios.NewServices();
        // The first instance is skipped, so the skip paths run too.
        bios.Instances(kSimArgClass).insert(bios.Instances(kSimArgClass).begin(), SimInstance());
        bios.Instances(kSimArgClass).front().path = L"bare";
        bios.Instances(kSimArgClass).front().properties[L"__PATH"] = SimVariant::Text(L"bare");
        std::vector<uint8_t> arg = Pattern(256, 1), payload = Pattern(4096, 2);

        long lBefore = spy.lLive;
        EXPECT_EQ(block.WMIACPI_Set_WARG(arg.data(), 256), 0u);
        EXPECT_EQ(block.WMIACPI_Get_WARG(arg.data(), 256), 0u);
        EXPECT_EQ(block.WMIACPI_Set_WPLD(payload.data(), 4096), 0u);
        EXPECT_EQ(block.WMIACPI_Get_WPLD(payload.data(), 4096), 0u);
        EXPECT_EQ(block.WMIACPI_Call_Method(), 0u);
        EXPECT_EQ(firmware.nExchanges, 1);
        EXPECT_EQ(spy.lLive, lBefore) << "automation memory left behind";

        bios.Instances(kSimMethodClass).clear();
        lBefore = spy.lLive;
        EXPECT_EQ(block.WMIACPI_Call_Method(), 32u);
        EXPECT_EQ(spy.lLive, lBefore) << "automation memory left behind";
        block.pSvc->Release();
        block.pSvc = nullptr;
    }
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
    CoUninitialize();
}
