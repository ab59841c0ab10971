// Shared helpers of the WMI transport tests.
#pragma once

#include "sim/generic_interface_server.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Bytes that differ from position to position and from seed to seed.
std::vector<uint8_t> Pattern(size_t n, uint8_t bSeed);

class WMIGeneric;
// The codes of the five primitives (Get/Set WARG, Get/Set WPLD, Call_Method)
// run on patterned buffers, each expected to fail; checks that none of them
// changed either buffer.
std::vector<DWORD> FailingPrimitiveCodes(WMIGeneric& block);

// What a piece of code wrote to standard output and standard error.
struct Captured
{
    std::string out;
    std::string err;
};
Captured CaptureOutput(const std::function<void()>& run);

// Everything written to a stream so far.
std::string StreamContents(FILE* pFile);

// The simulated GenericInterface server, loaded into this process; COM
// later finds the same module when it creates the class.
class GenericSimDll
{
public:
    GenericSimDll();
    ~GenericSimDll();
    bool Loaded() const { return m_hModule != nullptr; }
    HRESULT Register();
    HRESULT Unregister();
    void Configure(WmiFirmware* pFirmware, DWORD dwStatus);
    DWORD Calls();
    DWORD LastPayloadSize();
    LONG LiveObjects();

private:
    HMODULE m_hModule = nullptr;
};
