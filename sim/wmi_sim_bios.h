// The BIOS's ACPI-WMI classes in ROOT\WMI, simulated in-process as real COM
// objects (IWbemServices, IEnumWbemClassObject, IWbemClassObject) holding
// real BSTR, VARIANT and SAFEARRAY values. A test hands NewServices() to an
// access object as pSvc. The method MyFn1 passes the stored argument and
// payload arrays to the attached WmiFirmware.
#pragma once

#include "wmi_firmware.h"

#include <windows.h>
#include <wbemidl.h>

#include <map>
#include <string>
#include <vector>

// Class names as the firmware defines them.
constexpr const wchar_t* kSimArgClass = L"MyWMIARGClass8";
constexpr const wchar_t* kSimPayloadClass = L"MyWMIPayloadClass8";
constexpr const wchar_t* kSimMethodClass = L"MyWMIMethodClass";

// A VARIANT that owns its value and copies it deeply.
class SimVariant
{
public:
    SimVariant() { VariantInit(&m_var); }
    explicit SimVariant(const VARIANT& var);
    SimVariant(const SimVariant& other) : SimVariant(other.m_var) {}
    SimVariant& operator=(const SimVariant& other);
    ~SimVariant() { VariantClear(&m_var); }
    const VARIANT& Get() const { return m_var; }

    static SimVariant Bytes(const std::vector<uint8_t>& bytes);
    static SimVariant Text(const wchar_t* pwsz);

private:
    VARIANT m_var;
};

using SimProperties = std::map<std::wstring, SimVariant>;

struct SimInstance
{
    std::wstring path;
    SimProperties properties; // __PATH included unless a test removes it
};

class SimWmiBios
{
public:
    // Each class starts with one instance: WAG8 of 256 and WPD8 of 4096 zero
    // bytes, and the method class.
    explicit SimWmiBios(WmiFirmware* pFirmware = nullptr);
    SimWmiBios(const SimWmiBios&) = delete;
    SimWmiBios& operator=(const SimWmiBios&) = delete;

    // A new services object; the caller holds its one reference.
    IWbemServices* NewServices();

    // Instances of a class, in enumeration order.
    std::vector<SimInstance>& Instances(const std::wstring& className);
    // Adds an instance with its path; returns it for further setup.
    SimInstance& AddInstance(const std::wstring& className, const std::wstring& path);
    std::vector<uint8_t> ByteArray(const std::wstring& className, size_t index,
                                   const std::wstring& property) const;

    WmiFirmware* pFirmware;

    // Faults on demand.
    std::map<std::wstring, HRESULT> queryFailures; // class -> result of ExecQuery
    int nFailingQuery = 0;                         // this ExecQuery (from 1) fails; 0 none
    HRESULT hrFailingQuery = WBEM_E_FAILED;
    HRESULT hrPutInstance = S_OK;           // WBEM_E_ACCESS_DENIED: refused, not stored
    HRESULT hrExecMethod = S_OK;            // refused: the firmware does not run
    std::vector<std::wstring> failingPaths; // GetObject of these paths fails
    bool blNoMethodClassObject = false;     // GetObject("MyWMIMethodClass") fails

    // Record of every call, one line each, for example
    // "ExecQuery WQL|SELECT * FROM MyWMIARGClass8|16", "GetObject <path>",
    // "Put WAG8", "PutInstance <path>|1", "GetMethod MyFn1", "SpawnInstance",
    // "ExecMethod <path>|MyFn1|Indx=8".
    std::vector<std::string> calls;
    // Arguments of every IEnumWbemClassObject::Next.
    std::vector<std::pair<long, unsigned long>> nextArguments;
    // COM objects of the simulation alive now, and ever made.
    long lLiveObjects = 0;
    long lObjectsMade = 0;
    int nMethodRuns = 0;
    int nQueries = 0;

    // Called by the simulated objects.
    void Record(const std::string& text) { calls.push_back(text); }
    const SimInstance* FindByPath(const std::wstring& path) const;
    SimInstance* FindByPath(const std::wstring& path);
    void RunMethod();

private:
    std::map<std::wstring, std::vector<SimInstance>> m_classes;
};

std::string SimNarrow(const std::wstring& text);
