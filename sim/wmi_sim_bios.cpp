#include "wmi_sim_bios.h"

#include "wmi/wmi_protocol.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

SimVariant::SimVariant(const VARIANT& var)
{
    VariantInit(&m_var);
    VariantCopy(&m_var, const_cast<VARIANT*>(&var));
}

SimVariant& SimVariant::operator=(const SimVariant& other)
{
    if (this != &other)
        VariantCopy(&m_var, const_cast<VARIANT*>(&other.m_var)); // clears the old value first
    return *this;
}

SimVariant SimVariant::Bytes(const std::vector<uint8_t>& bytes)
{
    VARIANT var;
    VariantInit(&var);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* pv = nullptr;
    if (psa && SafeArrayAccessData(psa, &pv) == S_OK)
    {
        if (!bytes.empty())
            std::memcpy(pv, bytes.data(), bytes.size());
        SafeArrayUnaccessData(psa);
    }
    V_VT(&var) = VT_ARRAY | VT_UI1;
    V_ARRAY(&var) = psa;
    SimVariant result(var);
    VariantClear(&var);
    return result;
}

SimVariant SimVariant::Text(const wchar_t* pwsz)
{
    VARIANT var;
    VariantInit(&var);
    V_VT(&var) = VT_BSTR;
    V_BSTR(&var) = SysAllocString(pwsz);
    SimVariant result(var);
    VariantClear(&var);
    return result;
}

std::string SimNarrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t ch : text)
        narrow += ch < 0x80 ? static_cast<char>(ch) : '?';
    return narrow;
}

namespace
{

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

SimProperties::iterator FindProperty(SimProperties& properties, const wchar_t* pwszName)
{
    for (auto it = properties.begin(); it != properties.end(); ++it)
        if (SameName(it->first, pwszName))
            return it;
    return properties.end();
}

std::string HexText(long lValue)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "%lX", static_cast<unsigned long>(lValue));
    return sz;
}

// Reference counting and the live-object bookkeeping shared by every
// simulated COM object.
template <class Interface> class SimComObject : public Interface
{
public:
    explicit SimComObject(SimWmiBios* pBios) : m_pBios(pBios)
    {
        ++m_pBios->lLiveObjects;
        ++m_pBios->lObjectsMade;
    }
    virtual ~SimComObject() { --m_pBios->lLiveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface)))
        {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_lRef; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG lRef = --m_lRef;
        if (lRef == 0)
            delete this;
        return lRef;
    }

protected:
    SimWmiBios* m_pBios;

private:
    ULONG m_lRef = 1;
};

class SimObject : public SimComObject<IWbemClassObject>
{
public:
    enum class Kind
    {
        Instance,  // an instance fetched or enumerated
        Class,     // the method class object
        Signature, // a method's in-parameter signature
        Params,    // in- or out-parameters
    };

    SimObject(SimWmiBios* pBios, Kind kind, const SimProperties& properties)
        : SimComObject(pBios), m_kind(kind), m_properties(properties)
    {
    }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG, VARIANT* pVal, CIMTYPE* pType,
                                  LONG* plFlavor) override
    {
        if (!wszName)
            return WBEM_E_INVALID_PARAMETER;
        auto it = FindProperty(m_properties, wszName);
        if (it == m_properties.end())
            return WBEM_E_NOT_FOUND;
        if (pVal)
        {
            VariantInit(pVal);
            HRESULT hr = VariantCopy(pVal, const_cast<VARIANT*>(&it->second.Get()));
            if (hr != S_OK)
                return hr;
        }
        if (pType)
            *pType = 0;
        if (plFlavor)
            *plFlavor = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal,
                                  CIMTYPE Type) override
    {
        m_pBios->Record("Put " + SimNarrow(wszName ? wszName : L"") + "|" + HexText(lFlags) + "|" +
                        HexText(Type));
        if (!wszName)
            return WBEM_E_INVALID_PARAMETER;
        auto it = FindProperty(m_properties, wszName);
        if (it == m_properties.end())
            return WBEM_E_NOT_FOUND;
        VARIANT varNull;
        VariantInit(&varNull);
        V_VT(&varNull) = VT_NULL;
        it->second = SimVariant(pVal ? *pVal : varNull);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject** ppNewInstance) override
    {
        m_pBios->Record("SpawnInstance");
        if (!ppNewInstance)
            return WBEM_E_INVALID_PARAMETER;
        *ppNewInstance = new SimObject(m_pBios, Kind::Params, m_properties);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, LONG, IWbemClassObject** ppInSignature,
                                        IWbemClassObject** ppOutSignature) override
    {
        m_pBios->Record("GetMethod " + SimNarrow(wszName ? wszName : L""));
        if (m_kind != Kind::Class || !wszName || !SameName(wszName, L"MyFn1"))
            return WBEM_E_NOT_FOUND;
        if (ppInSignature)
        {
            SimProperties in;
            VARIANT varNull;
            VariantInit(&varNull);
            V_VT(&varNull) = VT_NULL;
            in[L"Indx"] = SimVariant(varNull);
            *ppInSignature = new SimObject(m_pBios, Kind::Signature, in);
        }
        if (ppOutSignature)
            *ppOutSignature = new SimObject(m_pBios, Kind::Signature, SimProperties());
        return S_OK;
    }

    // Not used by the access library.
    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*,
                                        IWbemClassObject*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**,
                                         IWbemClassObject**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }

private:
    Kind m_kind;
    SimProperties m_properties;
};

class SimEnum : public SimComObject<IEnumWbemClassObject>
{
public:
    SimEnum(SimWmiBios* pBios, std::vector<SimProperties> snapshot)
        : SimComObject(pBios), m_snapshot(std::move(snapshot))
    {
    }

    HRESULT STDMETHODCALLTYPE Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects,
                                   ULONG* puReturned) override
    {
        m_pBios->nextArguments.emplace_back(lTimeout, uCount);
        if (!apObjects || !puReturned)
            return WBEM_E_INVALID_PARAMETER;
        ULONG uGiven = 0;
        while (uGiven < uCount && m_next < m_snapshot.size())
            apObjects[uGiven++] =
                new SimObject(m_pBios, SimObject::Kind::Instance, m_snapshot[m_next++]);
        *puReturned = uGiven;
        return uGiven == uCount ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return E_NOTIMPL; }

private:
    std::vector<SimProperties> m_snapshot;
    size_t m_next = 0;
};

class SimServices : public SimComObject<IWbemServices>
{
public:
    explicit SimServices(SimWmiBios* pBios) : SimComObject(pBios) {}

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery,
                                        LONG lFlags, IWbemContext*,
                                        IEnumWbemClassObject** ppEnum) override
    {
        std::wstring language = strQueryLanguage ? strQueryLanguage : L"";
        std::wstring query = strQuery ? strQuery : L"";
        m_pBios->Record("ExecQuery " + SimNarrow(language) + "|" + SimNarrow(query) + "|" +
                        HexText(lFlags));
        if (!ppEnum)
            return WBEM_E_INVALID_PARAMETER;
        *ppEnum = nullptr;
        if (++m_pBios->nQueries == m_pBios->nFailingQuery)
            return m_pBios->hrFailingQuery;
        const std::wstring prefix = L"SELECT * FROM ";
        if (!SameName(language, L"WQL") || query.size() <= prefix.size() ||
            !SameName(query.substr(0, prefix.size()), prefix))
            return WBEM_E_INVALID_QUERY;
        std::wstring className = query.substr(prefix.size());
        for (const auto& failure : m_pBios->queryFailures)
            if (SameName(failure.first, className))
                return failure.second;
        std::vector<SimProperties> snapshot;
        bool blKnown = false;
        for (const wchar_t* pwszClass : {kSimArgClass, kSimPayloadClass, kSimMethodClass})
        {
            if (!SameName(className, pwszClass))
                continue;
            blKnown = true;
            for (const SimInstance& instance : m_pBios->Instances(pwszClass))
                snapshot.push_back(instance.properties);
        }
        if (!blKnown)
            return WBEM_E_INVALID_CLASS;
        *ppEnum = new SimEnum(m_pBios, std::move(snapshot));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, LONG, IWbemContext*,
                                        IWbemClassObject** ppObject,
                                        IWbemCallResult** ppCallResult) override
    {
        std::wstring path = strObjectPath ? strObjectPath : L"";
        m_pBios->Record("GetObject " + SimNarrow(path));
        if (ppCallResult)
            *ppCallResult = nullptr;
        if (!ppObject)
            return WBEM_E_INVALID_PARAMETER;
        *ppObject = nullptr;
        for (const std::wstring& failing : m_pBios->failingPaths)
            if (SameName(failing, path))
                return WBEM_E_NOT_FOUND;
        if (SameName(path, kSimMethodClass))
        {
            if (m_pBios->blNoMethodClassObject)
                return WBEM_E_NOT_FOUND;
            SimProperties properties;
            properties[L"__CLASS"] = SimVariant::Text(kSimMethodClass);
            *ppObject = new SimObject(m_pBios, SimObject::Kind::Class, properties);
            return S_OK;
        }
        const SimInstance* pInstance = m_pBios->FindByPath(path);
        if (!pInstance)
            return WBEM_E_NOT_FOUND;
        *ppObject = new SimObject(m_pBios, SimObject::Kind::Instance, pInstance->properties);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* pInst, LONG lFlags, IWbemContext*,
                                          IWbemCallResult** ppCallResult) override
    {
        if (ppCallResult)
            *ppCallResult = nullptr;
        std::wstring path;
        VARIANT varPath;
        VariantInit(&varPath);
        if (pInst && pInst->Get(L"__PATH", 0, &varPath, nullptr, nullptr) == S_OK &&
            V_VT(&varPath) == VT_BSTR)
            path = V_BSTR(&varPath);
        VariantClear(&varPath);
        m_pBios->Record("PutInstance " + SimNarrow(path) + "|" + HexText(lFlags));
        if (!pInst)
            return WBEM_E_INVALID_PARAMETER;
        if (m_pBios->hrPutInstance != S_OK)
            return m_pBios->hrPutInstance;
        SimInstance* pStored = m_pBios->FindByPath(path);
        if (!pStored)
            return WBEM_E_NOT_FOUND; // update only: nothing to update
        for (auto& property : pStored->properties)
        {
            VARIANT var;
            VariantInit(&var);
            if (pInst->Get(property.first.c_str(), 0, &var, nullptr, nullptr) == S_OK)
                property.second = SimVariant(var);
            VariantClear(&var);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName,
                                         LONG lFlags, IWbemContext*, IWbemClassObject* pInParams,
                                         IWbemClassObject** ppOutParams,
                                         IWbemCallResult** ppCallResult) override
    {
        if (ppCallResult)
            *ppCallResult = nullptr;
        if (ppOutParams)
            *ppOutParams = nullptr;
        std::wstring path = strObjectPath ? strObjectPath : L"";
        std::wstring method = strMethodName ? strMethodName : L"";
        std::wstring index = L"(none)";
        VARIANT varIndex;
        VariantInit(&varIndex);
        if (pInParams && pInParams->Get(L"Indx", 0, &varIndex, nullptr, nullptr) == S_OK)
            index = V_VT(&varIndex) == VT_BSTR ? V_BSTR(&varIndex) : L"(not text)";
        VariantClear(&varIndex);
        m_pBios->Record("ExecMethod " + SimNarrow(path) + "|" + SimNarrow(method) +
                        "|Indx=" + SimNarrow(index) + "|" + HexText(lFlags));

        if (!SameName(method, L"MyFn1"))
            return WBEM_E_INVALID_METHOD;
        bool blMethodInstance = false;
        for (const SimInstance& instance : m_pBios->Instances(kSimMethodClass))
            blMethodInstance = blMethodInstance || SameName(instance.path, path);
        if (!blMethodInstance)
            return WBEM_E_NOT_FOUND;
        if (index != L"8")
            return WBEM_E_INVALID_PARAMETER;
        if (m_pBios->hrExecMethod != S_OK)
            return m_pBios->hrExecMethod;
        m_pBios->RunMethod();
        if (ppOutParams)
        {
            VARIANT varResult;
            VariantInit(&varResult);
            V_VT(&varResult) = VT_I4;
            V_I4(&varResult) = 0;
            SimProperties out;
            out[L"ReturnValue"] = SimVariant(varResult);
            *ppOutParams = new SimObject(m_pBios, SimObject::Kind::Params, out);
        }
        return S_OK;
    }

    // Not used by the access library.
    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*,
                                       IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                            IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*,
                                          IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*,
                                               IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                               IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*,
                                             IWbemCallResult**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                                 IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                      IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG,
                                                         IWbemContext*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                              IWbemClassObject*, IWbemObjectSink*) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
};

std::wstring DefaultPath(const wchar_t* pwszClass)
{
    return std::wstring(L"\\\\SIMBIOS\\ROOT\\WMI:") + pwszClass + L".InstanceName=\"WMI0_0\"";
}

// The first property of the class's instances that is a byte array.
SAFEARRAY* FirstByteArray(std::vector<SimInstance>& instances, const wchar_t* pwszProperty)
{
    for (SimInstance& instance : instances)
    {
        auto it = FindProperty(instance.properties, pwszProperty);
        if (it == instance.properties.end())
            continue;
        const VARIANT& var = it->second.Get();
        if (V_VT(&var) == (VT_ARRAY | VT_UI1) && V_ARRAY(&var))
            return V_ARRAY(&var);
    }
    return nullptr;
}

// Copies between a firmware buffer and a stored array, never past either.
void CopyArray(SAFEARRAY* psa, uint8_t* pbBuffer, size_t cbBuffer, bool blToArray)
{
    if (!psa)
        return;
    void* pv = nullptr;
    if (SafeArrayAccessData(psa, &pv) != S_OK)
        return;
    size_t cb = std::min<size_t>(cbBuffer, psa->rgsabound[0].cElements);
    if (blToArray)
        std::memcpy(pv, pbBuffer, cb);
    else
        std::memcpy(pbBuffer, pv, cb);
    SafeArrayUnaccessData(psa);
}

} // namespace

SimWmiBios::SimWmiBios(WmiFirmware* pFirmwareIn) : pFirmware(pFirmwareIn)
{
    AddInstance(kSimArgClass, DefaultPath(kSimArgClass)).properties[L"WAG8"] =
        SimVariant::Bytes(std::vector<uint8_t>(kWmiArgSize));
    AddInstance(kSimPayloadClass, DefaultPath(kSimPayloadClass)).properties[L"WPD8"] =
        SimVariant::Bytes(std::vector<uint8_t>(kWmiPayloadSize));
    AddInstance(kSimMethodClass, DefaultPath(kSimMethodClass));
}

IWbemServices* SimWmiBios::NewServices()
{
    return new SimServices(this);
}

std::vector<SimInstance>& SimWmiBios::Instances(const std::wstring& className)
{
    return m_classes[className];
}

SimInstance& SimWmiBios::AddInstance(const std::wstring& className, const std::wstring& path)
{
    std::vector<SimInstance>& instances = m_classes[className];
    instances.push_back(SimInstance());
    SimInstance& instance = instances.back();
    instance.path = path;
    instance.properties[L"__PATH"] = SimVariant::Text(path.c_str());
    instance.properties[L"__CLASS"] = SimVariant::Text(className.c_str());
    return instance;
}

std::vector<uint8_t> SimWmiBios::ByteArray(const std::wstring& className, size_t index,
                                           const std::wstring& property) const
{
    std::vector<uint8_t> bytes;
    auto itClass = m_classes.find(className);
    if (itClass == m_classes.end() || index >= itClass->second.size())
        return bytes;
    const SimProperties& properties = itClass->second[index].properties;
    for (const auto& entry : properties)
    {
        if (!SameName(entry.first, property))
            continue;
        const VARIANT& var = entry.second.Get();
        if (V_VT(&var) != (VT_ARRAY | VT_UI1) || !V_ARRAY(&var))
            return bytes;
        void* pv = nullptr;
        if (SafeArrayAccessData(V_ARRAY(&var), &pv) == S_OK)
        {
            const uint8_t* pb = static_cast<const uint8_t*>(pv);
            bytes.assign(pb, pb + V_ARRAY(&var)->rgsabound[0].cElements);
            SafeArrayUnaccessData(V_ARRAY(&var));
        }
    }
    return bytes;
}

const SimInstance* SimWmiBios::FindByPath(const std::wstring& path) const
{
    for (const auto& entry : m_classes)
        for (const SimInstance& instance : entry.second)
            if (SameName(instance.path, path))
                return &instance;
    return nullptr;
}

SimInstance* SimWmiBios::FindByPath(const std::wstring& path)
{
    return const_cast<SimInstance*>(static_cast<const SimWmiBios*>(this)->FindByPath(path));
}

void SimWmiBios::RunMethod()
{
    ++nMethodRuns;
    if (!pFirmware)
        return;
    // The firmware works on its own full-size buffers; stored arrays shorter
    // than that contribute what they hold and take back what fits.
    std::vector<uint8_t> arg(kWmiArgSize), payload(kWmiPayloadSize);
    SAFEARRAY* psaArg = FirstByteArray(Instances(kSimArgClass), L"WAG8");
    SAFEARRAY* psaPayload = FirstByteArray(Instances(kSimPayloadClass), L"WPD8");
    CopyArray(psaArg, arg.data(), arg.size(), false);
    CopyArray(psaPayload, payload.data(), payload.size(), false);
    pFirmware->Process(arg.data(), payload.data());
    CopyArray(psaArg, arg.data(), arg.size(), true);
    CopyArray(psaPayload, payload.data(), payload.size(), true);
}
