#include "wmi_generic.h"

#include "generic_interface.h"

#include "access/debug_print.h"
#include "access/function_codes.h"
#include "access/fini_request.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

static_assert(!std::is_copy_constructible<WMIGeneric>::value &&
                  !std::is_copy_assignable<WMIGeneric>::value,
              "a copy would release the library and the COM references twice");

// WMIGeneric's own members after EDABBlock's, per build (see edab_block.cpp
// for the warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN64)
#define WMI_AT(member, x64, i386) static_assert(offsetof(WMIGeneric, member) == (x64), #member)
#else
#define WMI_AT(member, x64, i386) static_assert(offsetof(WMIGeneric, member) == (i386), #member)
#endif
WMI_AT(pSvc, 568, 476);
WMI_AT(pLoc, 576, 480);
WMI_AT(wszQuery, 584, 484);
WMI_AT(WARGBuf, 784, 684);
WMI_AT(WPLDBuf, 1040, 940);
WMI_AT(CallInterface, 5136, 5036);
WMI_AT(RetryLimit, 5140, 5040);
#undef WMI_AT
#pragma GCC diagnostic pop
static_assert(sizeof(WMIGeneric) == (sizeof(void*) == 8 ? 5144 : 5044), "size of WMIGeneric");
static_assert(sizeof(WMIGeneric::wszQuery) == 200 && sizeof(WMIGeneric::WARGBuf) == 256 &&
                  sizeof(WMIGeneric::WPLDBuf) == 4096 && sizeof(WMIGeneric::RetryLimit) == 4,
              "member sizes");

namespace
{

// A BSTR made for one call and freed right after it.
class TempBstr
{
public:
    explicit TempBstr(const wchar_t* pwsz) : m_bstr(SysAllocString(pwsz)) {}
    ~TempBstr() { SysFreeString(m_bstr); }
    TempBstr(const TempBstr&) = delete;
    TempBstr& operator=(const TempBstr&) = delete;
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

// A property the firmware defines as a byte array of at least dwNeeded
// bytes. Anything else (another type, a multi-dimensional or shorter array)
// would be read or written past its end, so such an instance is not used.
bool IsUsableByteArray(const VARIANT& var, DWORD dwNeeded)
{
    if (V_VT(&var) != (VT_ARRAY | VT_UI1))
        return false;
    SAFEARRAY* psa = V_ARRAY(&var);
    if (!psa || SafeArrayGetDim(psa) != 1 || SafeArrayGetElemsize(psa) != 1)
        return false;
    return psa->rgsabound[0].cElements >= dwNeeded;
}

// Releases an interface pointer and forgets it.
template <class T> void ReleaseAndClear(T*& p)
{
    if (p)
    {
        p->Release();
        p = nullptr;
    }
}

// An interface pointer that is released when it goes out of scope, so every
// path through the WMI steps gives back what it was handed.
template <class T> class ComRef
{
public:
    ComRef() = default;
    ~ComRef() { ReleaseAndClear(m_p); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    // For a call that hands out a reference; an earlier one is given back.
    T** Out()
    {
        ReleaseAndClear(m_p);
        return &m_p;
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }

private:
    T* m_p = nullptr;
};

// A VARIANT that is cleared when it goes out of scope.
class ScopedVariant
{
public:
    ScopedVariant() { VariantInit(&m_var); }
    ~ScopedVariant() { VariantClear(&m_var); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    // For a call that fills it; an earlier value is freed.
    VARIANT* Out()
    {
        VariantClear(&m_var);
        return &m_var;
    }
    VARIANT* Ptr() { return &m_var; }
    const VARIANT& Get() const { return m_var; }

private:
    VARIANT m_var;
};

// Runs a WQL query; false when it fails or gives no enumerator.
bool RunQuery(IWbemServices* pSvc, const wchar_t* pwszQuery, ComRef<IEnumWbemClassObject>& result)
{
    TempBstr bstrLanguage(L"WQL");
    TempBstr bstrQuery(pwszQuery);
    const HRESULT hr = pSvc->ExecQuery(bstrLanguage, bstrQuery, WBEM_FLAG_RETURN_IMMEDIATELY,
                                       nullptr, result.Out());
    return hr == S_OK && result.Get();
}

// The next instance of an enumeration with its __PATH; false when there is
// none left. An instance whose path is not a string is passed over.
bool NextInstanceWithPath(IEnumWbemClassObject* pEnum, ComRef<IWbemClassObject>& instance,
                          ScopedVariant& path)
{
    for (;;)
    {
        ULONG uReturned = 0;
        const HRESULT hr = pEnum->Next(WBEM_INFINITE, 1, instance.Out(), &uReturned);
        if (hr != S_OK || uReturned == 0 || !instance.Get())
            return false;
        if (instance->Get(L"__PATH", 0, path.Out(), nullptr, nullptr) == S_OK &&
            V_VT(&path.Get()) == VT_BSTR)
            return true;
    }
}

} // namespace

// How one property primitive differs from the others.
struct WMIGeneric::PropertyAccess
{
    const wchar_t* pwszQueryFormat;
    const wchar_t* pwszPropertyFormat;
    DWORD dwBytes;
    bool blSet;
    DWORD dwNoSvc;
    DWORD dwQueryFail;
    DWORD dwNoInstance;
};

WMIGeneric::~WMIGeneric()
{
    if (CallInterface == 1)
        DisconnectWmiAcpi();
}

DWORD WMIGeneric::ConnectWmiAcpi()
{
    // A second connection replaces the first; overwriting the pointers would
    // leak both references and one COM initialisation.
    if (CallInterface == 1)
        DisconnectWmiAcpi();

    // S_FALSE (COM already initialised on this thread) still counts an
    // initialisation that DisconnectWmiAcpi ends, so it is accepted.
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr))
        return WMIACPI_COINITIALIZE;

    // Process-wide security can be set only once; RPC_E_TOO_LATE means an
    // earlier connection (or the owner) already set it, which is no failure.
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                              RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (hr != S_OK && hr != RPC_E_TOO_LATE)
    {
        CoUninitialize();
        return WMIACPI_COINITIALIZE_SECURITY;
    }

    IWbemLocator* pLocator = nullptr;
    hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                          reinterpret_cast<void**>(&pLocator));
    if (hr != S_OK || !pLocator)
    {
        ReleaseAndClear(pLocator);
        CoUninitialize();
        return WMIACPI_COCREATEINSTANCE;
    }

    IWbemServices* pServices = nullptr;
    {
        TempBstr bstrNamespace(L"ROOT\\WMI");
        hr = pLocator->ConnectServer(bstrNamespace, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     &pServices);
    }
    if (hr != S_OK || !pServices)
    {
        ReleaseAndClear(pServices);
        pLocator->Release();
        CoUninitialize();
        return WMIACPI_CONNECT;
    }

    // Calls on the services run with the caller's identity, each one
    // authenticated.
    hr = CoSetProxyBlanket(pServices, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (hr != S_OK)
    {
        pServices->Release();
        pLocator->Release();
        CoUninitialize();
        return WMIACPI_SET_PROXY_BLANKET;
    }

    pLoc = pLocator;
    pSvc = pServices;
    CallInterface = 1;
    return WMIACPI_NO_ERROR;
}

void WMIGeneric::DisconnectWmiAcpi()
{
    // A connection always holds both; both null means it was already given
    // up, and COM must not be ended a second time for it.
    if (!pSvc && !pLoc)
        return;
    ReleaseAndClear(pSvc);
    ReleaseAndClear(pLoc);
    CoUninitialize();
}

DWORD WMIGeneric::TransferProperty(const PropertyAccess& access, BYTE* pbBuffer)
{
    if (!pSvc)
        return access.dwNoSvc;

    wsprintfW(wszQuery, access.pwszQueryFormat, kWmiInstance);
    ComRef<IEnumWbemClassObject> instances;
    if (!RunQuery(pSvc, wszQuery, instances))
        return access.dwQueryFail;

    ComRef<IWbemClassObject> instance;
    ScopedVariant path;
    while (NextInstanceWithPath(instances.Get(), instance, path))
    {
        ComRef<IWbemClassObject> object;
        if (pSvc->GetObject(V_BSTR(&path.Get()), 0, nullptr, object.Out(), nullptr) != S_OK ||
            !object.Get())
            continue;

        wsprintfW(wszQuery, access.pwszPropertyFormat, kWmiInstance);
        ScopedVariant property;
        if (object->Get(wszQuery, 0, property.Out(), nullptr, nullptr) != S_OK ||
            !IsUsableByteArray(property.Get(), access.dwBytes))
            continue;

        void* pvData = nullptr;
        if (SafeArrayAccessData(V_ARRAY(property.Ptr()), &pvData) != S_OK || !pvData)
            continue;
        if (access.blSet)
            std::memcpy(pvData, pbBuffer, access.dwBytes);
        else
            std::memcpy(pbBuffer, pvData, access.dwBytes);
        SafeArrayUnaccessData(V_ARRAY(property.Ptr()));

        if (access.blSet)
        {
            // The firmware sees the data only once the instance is stored;
            // a refusal shows up in the header read back afterwards.
            wsprintfW(wszQuery, access.pwszPropertyFormat, kWmiInstance);
            object->Put(wszQuery, 0, property.Ptr(), 0);
            pSvc->PutInstance(object.Get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
        }
        return WMIACPI_NO_ERROR;
    }
    return access.dwNoInstance;
}

// The four buffer primitives differ only in class, property, size, direction
// and codes.
namespace
{

// wsprintfW's wide formats are beyond the compiler's format check: each must
// take exactly the one int (kWmiInstance) it is given.
constexpr bool TakesOneInt(const wchar_t* pwsz)
{
    int nConversions = 0;
    for (; *pwsz; ++pwsz)
    {
        if (*pwsz != L'%')
            continue;
        ++pwsz;
        if (*pwsz == L'%')
            continue;
        if (*pwsz != L'd')
            return false;
        ++nConversions;
    }
    return nConversions == 1;
}

constexpr const wchar_t kArgQuery[] = L"SELECT * FROM MyWMIARGClass%d";
constexpr const wchar_t kArgProperty[] = L"WAG%d";
constexpr const wchar_t kPayloadQuery[] = L"SELECT * FROM MyWMIPayloadClass%d";
constexpr const wchar_t kPayloadProperty[] = L"WPD%d";
static_assert(TakesOneInt(kArgQuery) && TakesOneInt(kArgProperty) && TakesOneInt(kPayloadQuery) &&
                  TakesOneInt(kPayloadProperty),
              "one %d each");
static_assert(std::is_same<decltype(kWmiInstance), const int>::value, "formatted with %d");

} // namespace

const WMIGeneric::PropertyAccess WMIGeneric::s_propertyAccess[4] = {
    {kArgQuery, kArgProperty, kWmiArgSize, false, WMIACPI_GET_WARG_NO_SVC, WMIACPI_GET_WARG_QUERY,
     WMIACPI_GET_WARG_ENUM},
    {kArgQuery, kArgProperty, kWmiArgSize, true, WMIACPI_SET_WARG_NO_SVC, WMIACPI_SET_WARG_QUERY,
     WMIACPI_SET_WARG_ENUM},
    {kPayloadQuery, kPayloadProperty, kWmiPayloadSize, false, WMIACPI_GET_WPLD_NO_SVC,
     WMIACPI_GET_WPLD_QUERY, WMIACPI_GET_WPLD_ENUM},
    {kPayloadQuery, kPayloadProperty, kWmiPayloadSize, true, WMIACPI_SET_WPLD_NO_SVC,
     WMIACPI_SET_WPLD_QUERY, WMIACPI_SET_WPLD_ENUM},
};

DWORD WMIGeneric::WMIACPI_Get_WARG(BYTE* pbBuffer, DWORD)
{
    return TransferProperty(s_propertyAccess[0], pbBuffer);
}

DWORD WMIGeneric::WMIACPI_Set_WARG(BYTE* pbBuffer, DWORD)
{
    return TransferProperty(s_propertyAccess[1], pbBuffer);
}

DWORD WMIGeneric::WMIACPI_Get_WPLD(BYTE* pbBuffer, DWORD)
{
    return TransferProperty(s_propertyAccess[2], pbBuffer);
}

DWORD WMIGeneric::WMIACPI_Set_WPLD(BYTE* pbBuffer, DWORD)
{
    return TransferProperty(s_propertyAccess[3], pbBuffer);
}

DWORD WMIGeneric::WMIACPI_Call_Method()
{
    if (!pSvc)
        return WMIACPI_CALL_METHOD_NO_SVC;

    ComRef<IEnumWbemClassObject> instances;
    if (!RunQuery(pSvc, L"SELECT * FROM MyWMIMethodClass", instances))
        return WMIACPI_CALL_METHOD_QUERY;

    ComRef<IWbemClassObject> instance;
    ScopedVariant path;
    while (NextInstanceWithPath(instances.Get(), instance, path))
    {
        ComRef<IWbemClassObject> methodClass;
        HRESULT hr;
        {
            TempBstr bstrClass(L"MyWMIMethodClass");
            hr = pSvc->GetObject(bstrClass, 0, nullptr, methodClass.Out(), nullptr);
        }
        if (hr != S_OK || !methodClass.Get())
            continue;

        ComRef<IWbemClassObject> inSignature;
        if (methodClass->GetMethod(L"MyFn1", 0, inSignature.Out(), nullptr) != S_OK ||
            !inSignature.Get())
            continue;

        ComRef<IWbemClassObject> inParams;
        if (inSignature->SpawnInstance(0, inParams.Out()) != S_OK || !inParams.Get())
            continue;

        wsprintfW(wszQuery, L"%d", kWmiInstance);
        {
            ScopedVariant index;
            V_VT(index.Ptr()) = VT_BSTR;
            V_BSTR(index.Ptr()) = SysAllocString(wszQuery);
            inParams->Put(L"Indx", 0, index.Ptr(), 0);
        }

        // The firmware's answer is read from the buffers afterwards, so the
        // method's own result is not examined.
        ComRef<IWbemClassObject> outParams;
        TempBstr bstrMethod(L"MyFn1");
        pSvc->ExecMethod(V_BSTR(path.Ptr()), bstrMethod, 0, nullptr, inParams.Get(),
                         outParams.Out(), nullptr);
        return WMIACPI_NO_ERROR;
    }
    return WMIACPI_CALL_METHOD_ENUM;
}

void WMIGeneric::WriteReturnDump(const BYTE* pbArg) const
{
    if (!blDebug)
        return;
    std::fputs(WmiFormatReturnDump(pbArg).c_str(), stdout);
}

bool WMIGeneric::CallFunc(BYTE* pbArg, DWORD, BYTE* pbPayload, WORD)
{
    if (CallInterface == 1)
    {
        DWORD dwCode = WMIACPI_Set_WARG(pbArg, kWmiArgSize);
        WmiStep failed = WmiStep::SetWarg;
        if (dwCode == 0)
        {
            failed = WmiStep::SetWpld;
            dwCode = WMIACPI_Set_WPLD(pbPayload, kWmiPayloadSize);
        }
        if (dwCode == 0)
        {
            failed = WmiStep::CallMethod;
            dwCode = WMIACPI_Call_Method();
        }
        if (dwCode == 0)
        {
            failed = WmiStep::GetWarg;
            dwCode = WMIACPI_Get_WARG(pbArg, kWmiArgSize);
        }
        if (dwCode == 0)
        {
            failed = WmiStep::GetWpld;
            dwCode = WMIACPI_Get_WPLD(pbPayload, kWmiPayloadSize);
        }
        if (dwCode != 0)
        {
            std::fputs(WmiFormatStepError(failed, dwCode).c_str(), stderr);
            return false;
        }
        WriteReturnDump(pbArg);
        return true;
    }

    if (CallInterface == 0)
    {
        // An owner's multithreaded apartment refuses CoInitialize; then this
        // exchange took no initialisation and must not end one either.
        HRESULT hrInit = CoInitialize(nullptr);
        IGenericInterface* pGeneric = nullptr;
        CoCreateInstance(CLSID_GenericInterface, nullptr, kGenericInterfaceClsCtx,
                         IID_IGenericInterface, reinterpret_cast<void**>(&pGeneric));
        if (!pGeneric)
        {
            if (SUCCEEDED(hrInit))
                CoUninitialize();
            std::fputs("\nGeneric Interface Not Found.\n", stdout);
            return false;
        }
        DWORD dwStatus = 0;
        pGeneric->GenericFunction(pbArg, pbPayload, kWmiPayloadSize, &dwStatus);
        pGeneric->Release();
        if (SUCCEEDED(hrInit))
            CoUninitialize();
        WriteReturnDump(pbArg);
        if (dwStatus == 0 || dwStatus == 0x80000008)
            return true;
        std::printf("GENERIC_FUNCTION fail...Error:%x", static_cast<unsigned>(dwStatus));
        return false;
    }

    WriteReturnDump(pbArg);
    return true;
}

bool WMIGeneric::RetryLimitPassed(long long nExchanges) const
{
    if (nExchanges <= RetryLimit)
        return false;
    std::printf("Retry %d failed.\n", static_cast<int>(RetryLimit));
    return true;
}

bool WMIGeneric::FirmwareRefused(const WmiCallHeader& header) const
{
    if (!WmiHasFailed(header))
        return false;
    if (blDebug)
        DebugPrint(ppLogFile, "%s", WmiErrorCodeText(header.ErrorCode));
    return true;
}

bool WMIGeneric::CallWmiFunction(DWORD dwCode, DWORD dwArgument, DWORD* pdwResult)
{
    // FEBW and FLSC 1 send what the caller prepared in the payload.
    if (WmiClearsPayload(dwCode, dwArgument))
        std::memset(WPLDBuf, 0, sizeof(WPLDBuf));
    // Only the first 192 bytes: the rest of the argument buffer keeps what it
    // held.
    std::memset(WARGBuf, 0, 192);

    const WmiFunctionRow* pRow = WmiFindFunction(dwCode);
    // Wide enough that no RetryLimit, however large, makes it wrap.
    long long nExchanges = 0;
    for (;;)
    {
        WmiBeginRequest(WARGBuf);
        if (!pRow)
            return false;
        WmiWriteFunctionFields(WARGBuf, *pRow, dwArgument);
        if (dwCode == FINI)
            BuildFiniRequestHeader(WPLDBuf, blExtfVer20 || blForceVer20, kFiniInterfaceWmi);

        if (!CallFunc(WARGBuf, sizeof(WARGBuf), WPLDBuf, static_cast<WORD>(sizeof(WPLDBuf))))
            return false;
        ++nExchanges;

        if (blDebug)
        {
            DebugPrint(ppLogFile, "WMI function %lX. return header= \n",
                       static_cast<unsigned long>(dwCode));
            DebugDump(ppLogFile, WARGBuf, 8);
        }
        if (RetryLimitPassed(nExchanges))
            return false;
        if (WmiIsComplete(WmiReadHeader(WARGBuf)))
            break;
    }

    const WmiCallHeader header = WmiReadHeader(WARGBuf);
    if (FirmwareRefused(header))
        return false;
    if (WmiMarkerStanding(header))
    {
        if (blDebug)
            DebugPrint(ppLogFile, "0xAA not change!\n");
        return false;
    }
    *pdwResult = dwCode == FLSH ? 0 : header.ParamWord;
    return true;
}
