// What ExitTool releases before it ends the process, and the single-instance
// lock's retry.
#include "driver/console.h"
#include "driver/globals.h"
#include "driver/instance_lock.h"
#include "wmi/wmi_generic.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace
{

// Stands in for a WMI interface: the teardown only ever calls Release.
class CountingUnknown : public IUnknown
{
public:
    explicit CountingUnknown(std::string* pLog, const char* pszName)
        : m_pLog(pLog), m_pszName(pszName)
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        *m_pLog += m_pszName;
        *m_pLog += ' ';
        return 1;
    }

private:
    std::string* m_pLog;
    const char* m_pszName;
};

// A DLL that nothing else in the test loads.
constexpr const char* kProbeDll = "msimg32.dll";

} // namespace

TEST(Teardown, NothingToReleaseIsFine)
{
    g_pBlock = nullptr;
    g_hMutex = nullptr;
    ReleaseRunResources();
    EXPECT_EQ(g_pBlock, nullptr);
    EXPECT_EQ(g_hMutex, nullptr);
}

TEST(Teardown, ConnectedBlockReleasesServicesThenLocatorAndTheLibraryOnce)
{
    ASSERT_EQ(GetModuleHandleA(kProbeDll), nullptr);
    HMODULE hOurs = LoadLibraryA(kProbeDll);
    HMODULE hBlocks = LoadLibraryA(kProbeDll);
    ASSERT_NE(hBlocks, nullptr);
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));

    std::string log;
    CountingUnknown svc(&log, "svc");
    CountingUnknown loc(&log, "loc");
    g_pBlock = new WMIGeneric;
    g_pBlock->hAccessLib = hBlocks;
    g_pBlock->CallInterface = 1;
    g_pBlock->pSvc = reinterpret_cast<IWbemServices*>(static_cast<IUnknown*>(&svc));
    g_pBlock->pLoc = reinterpret_cast<IWbemLocator*>(static_cast<IUnknown*>(&loc));
    ReleaseRunResources();

    EXPECT_EQ(g_pBlock, nullptr);
    EXPECT_EQ(log, "svc loc "); // once each, services first
    // COM was ended for the connection: a new CoInitialize is the first again.
    HRESULT hr = CoInitialize(nullptr);
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr))
        CoUninitialize();
    // One reference is left: ours. Releasing it unloads the library.
    EXPECT_NE(GetModuleHandleA(kProbeDll), nullptr);
    FreeLibrary(hOurs);
    EXPECT_EQ(GetModuleHandleA(kProbeDll), nullptr);
}

TEST(Teardown, UnconnectedBlockTouchesNoComObject)
{
    std::string log;
    CountingUnknown svc(&log, "svc");
    g_pBlock = new WMIGeneric;
    g_pBlock->CallInterface = 0; // GenericInterface: owns no connection
    g_pBlock->pSvc = reinterpret_cast<IWbemServices*>(static_cast<IUnknown*>(&svc));
    ReleaseRunResources();
    EXPECT_EQ(g_pBlock, nullptr);
    EXPECT_EQ(log, "");
}

TEST(Teardown, MutexHandleIsClosed)
{
    g_hMutex = CreateMutexA(nullptr, TRUE, "ArdentisTeardownProbe");
    ASSERT_NE(g_hMutex, nullptr);
    ReleaseRunResources();
    EXPECT_EQ(g_hMutex, nullptr);
    // The name vanished with the last handle.
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "ArdentisTeardownProbe"), nullptr);
}

TEST(InstanceLock, TakenOnceTheHolderLetsGo)
{
    HANDLE hHolder = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
    ASSERT_NE(hHolder, nullptr);
    ASSERT_NE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS)) << "another instance is running";
    // Taken before the releaser starts, so its 350 ms always fall inside the
    // measured wait, however the two threads are scheduled.
    DWORD dwStart = GetTickCount();
    std::thread releaser(
        [hHolder]
        {
            Sleep(350);
            ReleaseMutex(hHolder);
            CloseHandle(hHolder);
        });
    bool blTaken = AcquireInstanceLock();
    DWORD dwWaited = GetTickCount() - dwStart;
    releaser.join();
    EXPECT_TRUE(blTaken);
    EXPECT_NE(g_hMutex, nullptr);
    // Whole 100 ms steps: the name was seen at least three times first. The
    // wait is about 400 ms; 2 s leaves a loaded machine five times that.
    EXPECT_GE(dwWaited, 300u);
    EXPECT_LT(dwWaited, 2000u);
    ReleaseRunResources();
}

TEST(InstanceLock, LoserGivesUpAfterAHundredFullWaits)
{
    HANDLE hHolder = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
    ASSERT_NE(hHolder, nullptr);
    ASSERT_NE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS)) << "another instance is running";
    LARGE_INTEGER liFrequency;
    LARGE_INTEGER liStart;
    LARGE_INTEGER liEnd;
    QueryPerformanceFrequency(&liFrequency);
    QueryPerformanceCounter(&liStart);
    bool blTaken = AcquireInstanceLock();
    QueryPerformanceCounter(&liEnd);
    CloseHandle(hHolder);
    EXPECT_FALSE(blTaken);
    EXPECT_EQ(g_hMutex, nullptr);
    // A sleep never ends early, so 100 sleeps of 100 ms are an exact lower
    // bound (99 attempts stay below it); the upper bound only catches a hang.
    double dSeconds = double(liEnd.QuadPart - liStart.QuadPart) / double(liFrequency.QuadPart);
    EXPECT_GE(dSeconds, 100 * 0.100);
    EXPECT_LT(dSeconds, 20.0);
}
