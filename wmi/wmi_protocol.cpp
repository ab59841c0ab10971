#include "wmi_protocol.h"

#include "access/function_codes.h"

#include <cstdio>
#include <cstring>

namespace
{

// Indexed by code; reserved codes keep their place and text.
const char* const kWmiErrorNames[] = {
    "NO_ERROR",
    "CoInitialize fail",
    "CoInitializeSecurity fail",
    "CoCreateInstance fail",
    "Connect to 'ROOT\\WMI' fail",
    "CoSetProxyBlanket fail",
    "WMIACPI_Get_EVCD.ExecQuery fail",
    "WMIACPI_Get_EVCD.Enumerate fail",
    "WMIACPI_Get_WARG.pSvc is NULL",
    "WMIACPI_Get_WARG.length > 256",
    "WMIACPI_Get_WARG.ExecQuery fail",
    "WMIACPI_Get_WARG.Enumerate fail",
    "WMIACPI_Set_WARG.pSvc is NULL",
    "WMIACPI_Set_WARG.length > 256",
    "WMIACPI_Set_WARG.ExecQuery fail",
    "WMIACPI_Set_WARG.Enumerate fail",
    "WMIACPI_Get_WPLD.pSvc is NULL",
    "WMIACPI_Get_WPLD.length > 4096",
    "WMIACPI_Get_WPLD.ExecQuery fail",
    "WPIACPI_Get_WPLD.Enumerate fail",
    "WMIACPI_Set_WPLD.pSvc is NULL",
    "WMIACPI_Set_WPLD.length > 4096",
    "WMIACPI_Set_WPLD.ExecQuery fail",
    "WMIACPI_Set_WPLD.Enumerate fail",
    "WMIACPI_Call_Init.pSvc is NULL",
    "WMIACPI_Call_Init.ExecQuery fail",
    "WMIACPI_Call_Init.Enumerate fail",
    "WMIACPI_Call_WatchDog.pSvc is NULL",
    "WMIACPI_Call_WatchDog.ExecQuery fail",
    "WMIACPI_Call_WatchDog.Enumerate fail",
    "WMIACPI_Call_Method.pSvc is NULL",
    "WMIACPI_Call_Method.ExecQuery fail",
    "WMIACPI_Call_Method.Enumerate fail",
    "WMIACPI_Wait_Notify.pSvc is NULL",
    "WMIACPI_Wait_Notify.ExecQuery fail",
    "WMIACPI_Wait_Notify.Enumerate fail",
};
static_assert(sizeof(kWmiErrorNames) / sizeof(kWmiErrorNames[0]) == 36, "codes 0 to 35");

// The functions offered over WMI, with the same numbers as over SMI.
constexpr WmiFunctionRow kWmiFunctions[] = {
    {FLSH, kFnFlsh, WmiWord::LowWord, false, false, false, false},
    {FINI, kFnFini, WmiWord::Marker, true, false, false, false},
    {FERS, kFnFers, WmiWord::LowWord, false, false, false, false},
    {FWRI, kFnWrite, WmiWord::Marker, true, true, false, false},
    {FWRP, kFnWrite, WmiWord::Marker, false, true, false, false},
    {FEBW, kFnFebw, WmiWord::Marker, true, false, true, false},
    {FEBR, kFnFebr, WmiWord::Marker, true, false, false, false},
    {FEDW, kFnFedw, WmiWord::Marker, false, false, false, false},
    {ECSR, kFnEcsr, WmiWord::LowWord, false, false, false, false},
    {GDMI, kFnEcsr, WmiWord::Marker, true, false, false, false},
    {FLSC, kFnFlsc, WmiWord::LowWord, false, false, true, true},
};

} // namespace

const WmiFunctionRow* WmiFindFunction(uint32_t dwCode)
{
    for (const WmiFunctionRow& row : kWmiFunctions)
        if (row.dwCode == dwCode)
            return &row;
    return nullptr;
}

bool WmiClearsPayload(uint32_t dwCode, uint32_t dwArgument)
{
    const WmiFunctionRow* pRow = WmiFindFunction(dwCode);
    if (!pRow || !pRow->blKeepsPayload)
        return true;
    return pRow->blKeepsOnlyForOne && dwArgument != 1;
}

void WmiWriteFunctionFields(uint8_t* pbArg, const WmiFunctionRow& row, uint32_t dwArgument)
{
    WmiCallHeader header = WmiReadHeader(pbArg);
    header.SubFunction = row.bSubFunction;
    header.ParamWord =
        row.paramWord == WmiWord::Marker ? kWmiMarker : static_cast<uint16_t>(dwArgument);
    if (row.blDwordArgument)
        header.ParamDword = dwArgument;
    if (row.blLength4K)
        header.ParamLength = 0x1000;
    WmiWriteHeader(pbArg, header);
}

const char* WmiErrorCodeText(uint8_t bErrorCode)
{
    switch (bErrorCode)
    {
        case 1:
            return "Function is not supported\n";
        case 2:
            return "Buffer size is insufficient\n";
        case 4:
            return "Access Denied.\n";
        default:
            return "Unknown error.\n";
    }
}

const char* WmiErrorName(uint32_t dwCode)
{
    if (dwCode >= sizeof(kWmiErrorNames) / sizeof(kWmiErrorNames[0]))
        return "Unknown ERROR";
    return kWmiErrorNames[dwCode];
}

WmiCallHeader WmiReadHeader(const uint8_t* pbArg)
{
    WmiCallHeader header;
    std::memcpy(&header, pbArg, sizeof(header));
    return header;
}

void WmiWriteHeader(uint8_t* pbArg, const WmiCallHeader& header)
{
    std::memcpy(pbArg, &header, sizeof(header));
}

void WmiBeginRequest(uint8_t* pbArg)
{
    WmiCallHeader header = WmiReadHeader(pbArg);
    header.Signature = kWmiSignature;
    header.Revision = kWmiRevision;
    header.BufferSize = kWmiBufferSize;
    header.Status = 0;
    header.ErrorCode = 0;
    WmiWriteHeader(pbArg, header);
}

bool WmiIsComplete(const WmiCallHeader& header)
{
    return (header.Status & kWmiStatusComplete) != 0;
}

bool WmiHasFailed(const WmiCallHeader& header)
{
    return (header.Status & kWmiStatusError) != 0;
}

bool WmiMarkerStanding(const WmiCallHeader& header)
{
    return header.ParamWord == kWmiMarker;
}

std::string WmiFormatReturnDump(const uint8_t* pbArg)
{
    std::string text = "Call Func return:\n";
    char szByte[8];
    for (int i = 0; i < 8; ++i)
    {
        (void)std::snprintf(szByte, sizeof(szByte), "%X ", pbArg[i]);
        text += szByte;
    }
    return text;
}

std::string WmiFormatStepError(WmiStep step, uint32_t dwCode)
{
    const char* pszStep = "GetWPLD";
    switch (step)
    {
        case WmiStep::SetWarg:
            pszStep = "SetWARG";
            break;
        case WmiStep::SetWpld:
            pszStep = "SetWPLD";
            break;
        case WmiStep::CallMethod:
            pszStep = "CallMethod";
            break;
        case WmiStep::GetWarg:
            pszStep = "GetWARG";
            break;
        case WmiStep::GetWpld:
            pszStep = "GetWPLD";
            break;
    }
    char szText[128];
    (void)std::snprintf(szText, sizeof(szText), "%s - Error(%d):%s", pszStep,
                        static_cast<int>(dwCode), WmiErrorName(dwCode));
    return szText;
}
