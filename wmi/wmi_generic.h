// The access object over the BIOS's ACPI-WMI classes in ROOT\WMI.
#pragma once

#include "../access/edab_block.h"
#include "wmi_protocol.h"

#include <wbemidl.h>

// Final: the owner deletes it through its own type, and EDABBlock's
// destructor is not virtual. Its own members follow EDABBlock's; the layout
// is pinned in wmi_generic.cpp.
class WMIGeneric final : public EDABBlock
{
public:
    WMIGeneric() = default;
    // Besides the library handle, a connected object holds one reference
    // each to the locator and the services: never copied.
    WMIGeneric(const WMIGeneric&) = delete;
    WMIGeneric& operator=(const WMIGeneric&) = delete;
    ~WMIGeneric();

    // Initialises COM, creates the locator, connects to ROOT\WMI and sets the
    // proxy blanket. 0 on success (CallInterface is then 1), else the code
    // 1 to 5 of the failed call with nothing left connected. COM is entered
    // apartment-threaded; S_FALSE (already initialised on this thread) is
    // accepted because it too is ended by DisconnectWmiAcpi. Process security:
    // default authentication, impersonation, no capabilities; RPC_E_TOO_LATE
    // (already set by an earlier connection or the owner) is accepted. The
    // services are reached as the current user, with call-level
    // authentication (NTLM) and impersonation on the proxy. An existing
    // connection is given up first.
    DWORD ConnectWmiAcpi();
    // Releases the services and the locator and ends COM, once per connection.
    void DisconnectWmiAcpi();

    static const char* WmiErrorName(DWORD dwCode) { return ::WmiErrorName(dwCode); }

    // The buffer primitives move exactly 256 (WARG) or 4096 (WPLD) bytes.
    DWORD WMIACPI_Get_WARG(BYTE* pbBuffer, DWORD dwSize);
    DWORD WMIACPI_Set_WARG(BYTE* pbBuffer, DWORD dwSize);
    DWORD WMIACPI_Get_WPLD(BYTE* pbBuffer, DWORD dwSize);
    DWORD WMIACPI_Set_WPLD(BYTE* pbBuffer, DWORD dwSize);
    DWORD WMIACPI_Call_Method();

    // One exchange of both buffers with the firmware over the transport that
    // CallInterface selects.
    bool CallFunc(BYTE* pbArg, DWORD dwArgSize, BYTE* pbPayload, WORD wPayloadSize);

    // Calls one firmware function by its FlashFunctionCode, repeating the
    // exchange until the firmware marks the header complete, at most
    // RetryLimit exchanges counting. True when it completed without error;
    // *pdwResult then holds the 16-bit result (0 for FLSH), else it is left
    // alone. Both buffers keep what the last exchange left in them.
    bool CallWmiFunction(DWORD dwCode, DWORD dwArgument, DWORD* pdwResult);

    // The three operations over the WMI buffers. Unlike the SMI ones the
    // block operations only add bits to *pdwErrFlags.
    bool ReadBlock(DWORD dwBlock, BYTE* pData, DWORD* pdwSize, DWORD* pdwErrFlags) override;
    bool WriteBlock(DWORD dwBlock, BYTE* pData, DWORD dwSize, DWORD* pdwErrFlags) override;
    bool OemData(BYTE bType, DWORD dwValue, BYTE* pData, DWORD* pdwLen, BYTE* pbOut,
                 DWORD* pdwStatus) override;

    IWbemServices* pSvc = nullptr;
    IWbemLocator* pLoc = nullptr;
    wchar_t wszQuery[100] = {};
    BYTE WARGBuf[256] = {};
    BYTE WPLDBuf[4096] = {};
    DWORD CallInterface = 0; // 1: ACPI-WMI classes (owns a connection), 0: GenericInterface
    LONG RetryLimit = 0;

private:
    struct PropertyAccess;
    static const PropertyAccess s_propertyAccess[4]; // Get/Set WARG, Get/Set WPLD
    DWORD TransferProperty(const PropertyAccess& access, BYTE* pbBuffer);
    void WriteReturnDump(const BYTE* pbArg) const;
    // The two exchange loops' shared judgements. RetryLimit passed: prints
    // "Retry %d failed." (the exchange past the limit was made, but its answer
    // does not count). Firmware refusal: the ErrorCode text while debugging.
    bool RetryLimitPassed(long long nExchanges) const;
    bool FirmwareRefused(const WmiCallHeader& header) const;
};
