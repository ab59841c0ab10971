// What the WMI transport knows without Windows: the error texts of the
// WMI-ACPI primitives and the request/return header at the start of the
// argument buffer. Free of windows.h so the host build tests it natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kWmiArgSize = 256;      // WARGBuf, property WAG8
constexpr uint32_t kWmiPayloadSize = 4096; // WPLDBuf, property WPD8
constexpr int kWmiInstance = 8;            // every class, property and the method's Indx

// Codes returned by the WMI-ACPI primitives and ConnectWmiAcpi.
enum WmiAcpiCode : uint32_t
{
    WMIACPI_NO_ERROR = 0,
    WMIACPI_COINITIALIZE = 1,
    WMIACPI_COINITIALIZE_SECURITY = 2,
    WMIACPI_COCREATEINSTANCE = 3,
    WMIACPI_CONNECT = 4,
    WMIACPI_SET_PROXY_BLANKET = 5,
    WMIACPI_GET_WARG_NO_SVC = 8,
    WMIACPI_GET_WARG_QUERY = 10,
    WMIACPI_GET_WARG_ENUM = 11,
    WMIACPI_SET_WARG_NO_SVC = 12,
    WMIACPI_SET_WARG_QUERY = 14,
    WMIACPI_SET_WARG_ENUM = 15,
    WMIACPI_GET_WPLD_NO_SVC = 16,
    WMIACPI_GET_WPLD_QUERY = 18,
    WMIACPI_GET_WPLD_ENUM = 19,
    WMIACPI_SET_WPLD_NO_SVC = 20,
    WMIACPI_SET_WPLD_QUERY = 22,
    WMIACPI_SET_WPLD_ENUM = 23,
    WMIACPI_CALL_METHOD_NO_SVC = 30,
    WMIACPI_CALL_METHOD_QUERY = 31,
    WMIACPI_CALL_METHOD_ENUM = 32,
};

// The text of a WMI-ACPI code; "Unknown ERROR" above 35.
const char* WmiErrorName(uint32_t dwCode);

// The first 17 bytes of the argument buffer, as the firmware reads and
// writes them (little-endian).
#pragma pack(push, 1)
struct WmiCallHeader
{
    uint16_t Signature;  // 0x0066
    uint16_t Revision;   // 0x0001
    uint16_t BufferSize; // 0x0100
    uint8_t Status;      // bit 7 completed, bit 1 failed
    uint8_t ErrorCode;   // why, when Status bit 1 is set
    uint8_t SubFunction; // firmware function number
    uint16_t ParamWord;  // parameter or 0xAAAA marker; the 16-bit result
    uint32_t ParamDword;
    uint16_t ParamLength;
};
#pragma pack(pop)
static_assert(sizeof(WmiCallHeader) == 17, "WmiCallHeader is 17 bytes");
static_assert(offsetof(WmiCallHeader, Signature) == 0, "Signature at 0");
static_assert(offsetof(WmiCallHeader, Revision) == 2, "Revision at 2");
static_assert(offsetof(WmiCallHeader, BufferSize) == 4, "BufferSize at 4");
static_assert(offsetof(WmiCallHeader, Status) == 6, "Status at 6");
static_assert(offsetof(WmiCallHeader, ErrorCode) == 7, "ErrorCode at 7");
static_assert(offsetof(WmiCallHeader, SubFunction) == 8, "SubFunction at 8");
static_assert(offsetof(WmiCallHeader, ParamWord) == 9, "ParamWord at 9");
static_assert(offsetof(WmiCallHeader, ParamDword) == 11, "ParamDword at 11");
static_assert(offsetof(WmiCallHeader, ParamLength) == 15, "ParamLength at 15");

constexpr uint16_t kWmiSignature = 0x0066;
constexpr uint16_t kWmiRevision = 0x0001;
constexpr uint16_t kWmiBufferSize = 0x0100;
constexpr uint8_t kWmiStatusComplete = 0x80;
constexpr uint8_t kWmiStatusError = 0x02;
constexpr uint16_t kWmiMarker = 0xAAAA; // 0xAA in both bytes of ParamWord

// Header access on a 256-byte argument buffer. The buffer is a plain byte
// array, so the header is copied in and out rather than aliased.
WmiCallHeader WmiReadHeader(const uint8_t* pbArg);
void WmiWriteHeader(uint8_t* pbArg, const WmiCallHeader& header);

// Writes Signature, Revision, BufferSize and a cleared Status and ErrorCode,
// the part every request shares; the other fields are left as they are.
void WmiBeginRequest(uint8_t* pbArg);

bool WmiIsComplete(const WmiCallHeader& header);
bool WmiHasFailed(const WmiCallHeader& header);
bool WmiMarkerStanding(const WmiCallHeader& header);

// The firmware's texts for ErrorCode when Status bit 1 is set: 1, 2 and 4
// have their own, every other value shares one.
const char* WmiErrorCodeText(uint8_t bErrorCode);

// How CallWmiFunction fills the request for one FlashFunctionCode.
enum class WmiWord : uint8_t
{
    LowWord, // the argument's low 16 bits
    Marker,  // 0xAA in both bytes
};

struct WmiFunctionRow
{
    uint32_t dwCode;
    uint8_t bSubFunction;
    WmiWord paramWord;
    bool blDwordArgument;   // ParamDword := the argument
    bool blLength4K;        // ParamLength := 0x1000
    bool blKeepsPayload;    // the caller's payload goes out as it stands ...
    bool blKeepsOnlyForOne; // ... only when the argument is 1
};

// The row of dwCode, or null for a code CallWmiFunction refuses (OEMD among
// them: OEM data fills its own header).
const WmiFunctionRow* WmiFindFunction(uint32_t dwCode);

// Whether the payload is cleared before the first exchange. Codes without a
// row clear it too.
bool WmiClearsPayload(uint32_t dwCode, uint32_t dwArgument);

// Writes SubFunction and the fields the row names; the others keep what the
// buffer holds.
void WmiWriteFunctionFields(uint8_t* pbArg, const WmiFunctionRow& row, uint32_t dwArgument);

// The return dump of an exchange: "Call Func return:\n" and the first 8
// bytes of the argument buffer, each as "%X ".
std::string WmiFormatReturnDump(const uint8_t* pbArg);

// One step of an exchange over the ACPI-WMI classes, in calling order.
enum class WmiStep
{
    SetWarg,
    SetWpld,
    CallMethod,
    GetWarg,
    GetWpld,
};

// "SetWARG - Error(%d):%s" and its siblings; no line end.
std::string WmiFormatStepError(WmiStep step, uint32_t dwCode);
