#include "firmware_api.h"

namespace
{

// Looked up, not imported: a program that imported them would not start
// where kernel32 lacks them.
template <typename F> F Kernel32Call(const char* pszName)
{
    HMODULE hKernel32 = GetModuleHandleA("kernel32.dll");
    return hKernel32
               ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(hKernel32, pszName)))
               : nullptr;
}

} // namespace

FirmwareVariableApi g_FirmwareVariableApi = {
    GetFirmwareEnvironmentVariableA, SetFirmwareEnvironmentVariableA,
    Kernel32Call<decltype(FirmwareVariableApi::pfnGetFirmwareEnvironmentVariableExA)>(
        "GetFirmwareEnvironmentVariableExA"),
    Kernel32Call<decltype(FirmwareVariableApi::pfnSetFirmwareEnvironmentVariableExA)>(
        "SetFirmwareEnvironmentVariableExA")};
