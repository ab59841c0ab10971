// ConnectWmiAcpi's failure codes 3 to 5. The WMI locator is reached through
// its class identifier, so a class object registered in this apartment
// stands in for it (COM prefers it to the registry's server).
#include "sim/wmi_sim_bios.h"
#include "wmi/wmi_generic.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// A locator whose ConnectServer fails or hands out the simulated BIOS's
// services (which, being no proxy, refuse a proxy blanket).
class FakeLocator : public IWbemLocator
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemLocator))
        {
            *ppv = static_cast<IWbemLocator*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++lRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --lRefs; }
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR, const BSTR,
                                            const BSTR, LONG, const BSTR, IWbemContext*,
                                            IWbemServices** ppNamespace) override
    {
        namespaceAsked = strNetworkResource ? strNetworkResource : L"";
        *ppNamespace = nullptr;
        if (hrConnect != S_OK)
            return hrConnect;
        *ppNamespace = pBios->NewServices();
        return S_OK;
    }

    long lRefs = 0; // references held by others; the object lives on the stack
    HRESULT hrConnect = S_OK;
    SimWmiBios* pBios = nullptr;
    std::wstring namespaceAsked;
};

class FakeLocatorFactory : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory))
        {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override
    {
        if (hrCreate != S_OK)
        {
            *ppv = nullptr;
            return hrCreate;
        }
        return pLocator->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    HRESULT hrCreate = S_OK;
    FakeLocator* pLocator = nullptr;
};

class ConnectFailures : public testing::Test
{
protected:
    void SetUp() override
    {
        // The test's own initialisation: the class object lives in this
        // apartment, and a failed connection must end only its own.
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        locator.pBios = &bios;
        factory.pLocator = &locator;
        ASSERT_EQ(CoRegisterClassObject(CLSID_WbemLocator, &factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &dwCookie),
                  S_OK);
    }
    void TearDown() override
    {
        CoRevokeClassObject(dwCookie);
        // The connection's initialisation was ended, the test's is left.
        HRESULT hr = CoInitialize(nullptr);
        EXPECT_EQ(hr, S_FALSE);
        if (SUCCEEDED(hr))
            CoUninitialize();
        CoUninitialize();
    }

    void ExpectDisconnected()
    {
        EXPECT_EQ(block.pSvc, nullptr);
        EXPECT_EQ(block.pLoc, nullptr);
        EXPECT_EQ(block.CallInterface, 0u);
        EXPECT_EQ(locator.lRefs, 0) << "the locator was not released";
        EXPECT_EQ(bios.lLiveObjects, 0) << "the services were not released";
    }

    SimWmiBios bios;
    FakeLocator locator;
    FakeLocatorFactory factory;
    DWORD dwCookie = 0;
    WMIGeneric block;
};

} // namespace

TEST_F(ConnectFailures, LocatorNotCreated)
{
    factory.hrCreate = E_OUTOFMEMORY;
    EXPECT_EQ(block.ConnectWmiAcpi(), 3u);
    ExpectDisconnected();
}

TEST_F(ConnectFailures, NamespaceRefused)
{
    locator.hrConnect = WBEM_E_INVALID_NAMESPACE;
    EXPECT_EQ(block.ConnectWmiAcpi(), 4u);
    EXPECT_EQ(locator.namespaceAsked, L"ROOT\\WMI");
    ExpectDisconnected();
}

TEST_F(ConnectFailures, ProxyBlanketRefused)
{
    EXPECT_EQ(block.ConnectWmiAcpi(), 5u);
    EXPECT_EQ(bios.lObjectsMade, 1); // the services were handed out, then given back
    ExpectDisconnected();
}
