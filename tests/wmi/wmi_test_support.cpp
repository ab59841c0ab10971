#include "wmi_test_support.h"

#include "wmi/wmi_generic.h"

#include <gtest/gtest.h>

std::vector<uint8_t> Pattern(size_t n, uint8_t bSeed)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + bSeed + (i >> 8));
    return bytes;
}

std::vector<DWORD> FailingPrimitiveCodes(WMIGeneric& block)
{
    std::vector<uint8_t> arg = Pattern(256, 1), payload = Pattern(4096, 2);
    std::vector<DWORD> codes = {block.WMIACPI_Get_WARG(arg.data(), 256),
                                block.WMIACPI_Set_WARG(arg.data(), 256),
                                block.WMIACPI_Get_WPLD(payload.data(), 4096),
                                block.WMIACPI_Set_WPLD(payload.data(), 4096),
                                block.WMIACPI_Call_Method()};
    EXPECT_EQ(arg, Pattern(256, 1));
    EXPECT_EQ(payload, Pattern(4096, 2));
    return codes;
}

Captured CaptureOutput(const std::function<void()>& run)
{
    std::fflush(stdout);
    std::fflush(stderr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run();
    std::fflush(stdout);
    std::fflush(stderr);
    Captured captured;
    captured.err = testing::internal::GetCapturedStderr();
    captured.out = testing::internal::GetCapturedStdout();
    return captured;
}

std::string StreamContents(FILE* pFile)
{
    std::fflush(pFile);
    long lEnd = std::ftell(pFile);
    std::string text(lEnd > 0 ? static_cast<size_t>(lEnd) : 0, '\0');
    std::rewind(pFile);
    if (!text.empty())
        text.resize(std::fread(&text[0], 1, text.size(), pFile));
    std::fseek(pFile, 0, SEEK_END);
    return text;
}

namespace
{

std::string BesideThisProgram(const char* pszLeaf)
{
    char szPath[MAX_PATH];
    DWORD dwLength = GetModuleFileNameA(nullptr, szPath, sizeof(szPath));
    std::string path(szPath, dwLength);
    return path.substr(0, path.find_last_of("\\/") + 1) + pszLeaf;
}

template <class T> T Export(HMODULE hModule, const char* pszName)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
}

} // namespace

GenericSimDll::GenericSimDll()
{
    m_hModule = LoadLibraryA(BesideThisProgram(ARDENTIS_GENERIC_SIM_DLL).c_str());
}

GenericSimDll::~GenericSimDll()
{
    if (m_hModule)
    {
        Configure(nullptr, 0); // the firmware object belongs to the test
        FreeLibrary(m_hModule);
    }
}

HRESULT GenericSimDll::Register()
{
    auto pfn = Export<HRESULT(STDAPICALLTYPE*)()>(m_hModule, "DllRegisterServer");
    return pfn ? pfn() : E_FAIL;
}

HRESULT GenericSimDll::Unregister()
{
    auto pfn = Export<HRESULT(STDAPICALLTYPE*)()>(m_hModule, "DllUnregisterServer");
    return pfn ? pfn() : E_FAIL;
}

void GenericSimDll::Configure(WmiFirmware* pFirmware, DWORD dwStatus)
{
    auto pfn = Export<PFN_GENERIC_SIM_CONFIGURE>(m_hModule, "GenericSimConfigure");
    ASSERT_NE(pfn, nullptr);
    pfn(pFirmware, dwStatus);
}

namespace
{
struct Stats
{
    DWORD dwCalls = 0;
    DWORD dwLastPayloadSize = 0;
    LONG lLive = -1;
};
Stats ReadStats(HMODULE hModule)
{
    Stats stats;
    auto pfn = Export<PFN_GENERIC_SIM_STATS>(hModule, "GenericSimStats");
    if (pfn)
        pfn(&stats.dwCalls, &stats.dwLastPayloadSize, &stats.lLive);
    return stats;
}
} // namespace

DWORD GenericSimDll::Calls()
{
    return ReadStats(m_hModule).dwCalls;
}

DWORD GenericSimDll::LastPayloadSize()
{
    return ReadStats(m_hModule).dwLastPayloadSize;
}

LONG GenericSimDll::LiveObjects()
{
    return ReadStats(m_hModule).lLive;
}
