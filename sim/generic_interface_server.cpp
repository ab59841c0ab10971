// The simulated GenericInterface: an in-process COM server whose one method
// hands both WMI buffers to the attached WmiFirmware.
#include "generic_interface_server.h"
#include "wmi_model_firmware.h"

#include "wmi/generic_interface.h"
#include "wmi/wmi_protocol.h"

#include <olectl.h>

#include <cstdio>

namespace
{

HMODULE g_hModule = nullptr;
// A program that merely creates the class, as an owner's does, finds the
// virtual BIOS in its factory state behind it, as a real server finds the
// machine's firmware; tests attach their own.
FirmwareModel g_builtInModel;
WmiModelFirmware g_builtInFirmware(g_builtInModel);
WmiFirmware* g_pFirmware = &g_builtInFirmware;
DWORD g_dwStatus = 0;
DWORD g_dwCalls = 0;
DWORD g_dwLastPayloadSize = 0;
LONG g_lLiveObjects = 0;
LONG g_lLocks = 0;

const char kClsidKey[] = "Software\\Classes\\CLSID\\{8A76C71E-32B7-491D-995B-2634718721AD}";

class GenericObject : public IGenericInterface
{
public:
    GenericObject() { InterlockedIncrement(&g_lLiveObjects); }
    virtual ~GenericObject() { InterlockedDecrement(&g_lLiveObjects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IGenericInterface))
        {
            *ppv = static_cast<IGenericInterface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_lRef); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG lRef = InterlockedDecrement(&m_lRef);
        if (lRef == 0)
            delete this;
        return lRef;
    }

    HRESULT STDMETHODCALLTYPE GenericFunction(BYTE* pArg, BYTE* pPayload, DWORD dwPayloadSize,
                                              DWORD* pdwStatus) override
    {
        ++g_dwCalls;
        g_dwLastPayloadSize = dwPayloadSize;
        if (!pArg || !pPayload || !pdwStatus)
            return E_POINTER;
        // The firmware always works on the full 4096-byte payload.
        if (!g_pFirmware || dwPayloadSize < kWmiPayloadSize)
        {
            *pdwStatus = static_cast<DWORD>(E_FAIL);
            return S_OK;
        }
        g_pFirmware->Process(pArg, pPayload);
        *pdwStatus = g_dwStatus;
        return S_OK;
    }

private:
    LONG m_lRef = 1;
};

class GenericFactory : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory))
        {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // One static factory; it keeps the server loaded only through LockServer.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (pOuter)
            return CLASS_E_NOAGGREGATION;
        GenericObject* pObject = new GenericObject;
        HRESULT hr = pObject->QueryInterface(riid, ppv);
        pObject->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override
    {
        if (fLock)
            InterlockedIncrement(&g_lLocks);
        else
            InterlockedDecrement(&g_lLocks);
        return S_OK;
    }
};

GenericFactory g_factory;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH)
        g_hModule = hInstance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_GenericInterface))
        return CLASS_E_CLASSNOTAVAILABLE;
    // The firmware's state belongs to the machine, not to one load of its
    // server, yet COM unloads the DLL whenever the last apartment ends (after
    // every exchange of CallInterface 0): once used, it stays for the process.
    HMODULE hSelf = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&g_factory), &hSelf);
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return (g_lLiveObjects == 0 && g_lLocks == 0) ? S_OK : S_FALSE;
}

// Registers this DLL for the class in HKLM (the only hive Wine reads class
// registrations from), in the registry view of the calling process.
STDAPI DllRegisterServer()
{
    char szPath[MAX_PATH];
    DWORD dwLength = GetModuleFileNameA(g_hModule, szPath, sizeof(szPath));
    if (dwLength == 0 || dwLength >= sizeof(szPath))
        return E_FAIL;
    char szKey[sizeof(kClsidKey) + 32];
    std::snprintf(szKey, sizeof(szKey), "%s\\InprocServer32", kClsidKey);
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    static const char kModel[] = "Both";
    LONG lResult = RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(szPath),
                                  dwLength + 1);
    if (lResult == ERROR_SUCCESS)
        lResult = RegSetValueExA(hKey, "ThreadingModel", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(kModel), sizeof(kModel));
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer()
{
    LONG lResult = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kClsidKey);
    return (lResult == ERROR_SUCCESS || lResult == ERROR_FILE_NOT_FOUND) ? S_OK : SELFREG_E_CLASS;
}

extern "C" void WINAPI GenericSimConfigure(WmiFirmware* pFirmware, DWORD dwStatus)
{
    g_pFirmware = pFirmware;
    g_dwStatus = dwStatus;
}

extern "C" void WINAPI GenericSimStats(DWORD* pdwCalls, DWORD* pdwLastPayloadSize,
                                       LONG* plLiveObjects)
{
    if (pdwCalls)
        *pdwCalls = g_dwCalls;
    if (pdwLastPayloadSize)
        *pdwLastPayloadSize = g_dwLastPayloadSize;
    if (plLiveObjects)
        *plLiveObjects = g_lLiveObjects;
}
