#include "smbios.h"

#include <cstddef>

namespace
{

// The firmware's layouts, declared once. Fields are read byte by byte at
// these offsets (little-endian where wider), never through the structs.
#pragma pack(push, 1)

// What GetSystemFirmwareTable('RSMB') puts before the structures.
struct RawSmbiosHeader
{
    uint8_t bUsed20CallingMethod;
    uint8_t bMajorVersion;
    uint8_t bMinorVersion;
    uint8_t bDmiRevision;
    uint32_t dwLength; // bytes of structures that follow
};

// The start of every structure. Its strings follow the formatted area.
struct SmbiosHeader
{
    uint8_t bType;
    uint8_t bLength; // the formatted area, this header included
    uint16_t wHandle;
};

// Type 0. Older tables end earlier; later versions add fields after these.
struct FirmwareInformation
{
    SmbiosHeader header;
    uint8_t bVendor; // string numbers
    uint8_t bVersion;
    uint16_t wStartSegment;
    uint8_t bReleaseDate;
    uint8_t bRomSize;
    uint8_t abCharacteristics[8];
};

// Type 1. SMBIOS 2.0 ends after bSerialNumber, 2.1 to 2.3 after bWakeUpType.
struct SystemInformation
{
    SmbiosHeader header;
    uint8_t bManufacturer; // string numbers
    uint8_t bProductName;
    uint8_t bVersion;
    uint8_t bSerialNumber;
    uint8_t abUuid[16];
    uint8_t bWakeUpType;
    uint8_t bSkuNumber;
    uint8_t bFamily;
};

#pragma pack(pop)

static_assert(sizeof(RawSmbiosHeader) == 8, "RawSMBIOSData header");
static_assert(offsetof(RawSmbiosHeader, dwLength) == 4, "RawSMBIOSData Length");
static_assert(sizeof(SmbiosHeader) == 4, "structure header");
static_assert(offsetof(SmbiosHeader, bType) == 0, "structure type");
static_assert(offsetof(SmbiosHeader, bLength) == 1, "structure length");
static_assert(offsetof(FirmwareInformation, bVendor) == 0x04, "firmware vendor");
static_assert(offsetof(FirmwareInformation, bVersion) == 0x05, "firmware version");
static_assert(offsetof(FirmwareInformation, bReleaseDate) == 0x08, "firmware date");
static_assert(sizeof(FirmwareInformation) == 0x12, "firmware information of SMBIOS 2.0");
static_assert(offsetof(SystemInformation, bManufacturer) == 0x04, "system maker");
static_assert(offsetof(SystemInformation, bProductName) == 0x05, "product name");
static_assert(offsetof(SystemInformation, bSkuNumber) == 0x19, "SKU");
static_assert(sizeof(SystemInformation) == 0x1B, "system information of SMBIOS 2.4");

constexpr uint8_t kTypeFirmware = 0;
constexpr uint8_t kTypeSystem = 1;
constexpr uint8_t kTypeEndOfTable = 127;

uint32_t Le32(const uint8_t* pb)
{
    return static_cast<uint32_t>(pb[0]) | static_cast<uint32_t>(pb[1]) << 8 |
           static_cast<uint32_t>(pb[2]) << 16 | static_cast<uint32_t>(pb[3]) << 24;
}

// One structure inside the table: its formatted area, and its strings up to
// the table's end (cbStrings: the string set with its closing double zero,
// or everything left when the set is cut).
struct Structure
{
    const uint8_t* pbFormatted;
    size_t cbFormatted;
    const uint8_t* pbStrings;
    size_t cbStrings;
};

// Length of the string set at pb (the strings and the zero byte after the
// last, or two zero bytes when there are none); false when it does not end
// within cb bytes.
bool StringSetLength(const uint8_t* pb, size_t cb, size_t* pcbSet)
{
    for (size_t n = 0; n + 1 < cb; ++n)
        if (pb[n] == 0 && pb[n + 1] == 0)
        {
            *pcbSet = n + 2;
            return true;
        }
    *pcbSet = cb;
    return false;
}

// The value safe for logs, JSON and the summary line: printable ASCII, at
// most kSmbiosMaxValueChars, no trailing spaces (firmware pads with them).
std::string CleanValue(const uint8_t* pb, size_t cb)
{
    std::string value;
    for (size_t n = 0; n < cb && n < kSmbiosMaxValueChars; ++n)
        value += pb[n] >= 0x20 && pb[n] <= 0x7E ? static_cast<char>(pb[n]) : '?';
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    return value;
}

// The string the byte at nField of the formatted area names: "" when the
// formatted area ends before nField, for number 0, a number past the
// strings (the set ends at the first empty string), and a string cut by the
// table's end.
std::string FieldString(const Structure& s, size_t nField)
{
    if (nField >= s.cbFormatted || s.pbFormatted[nField] == 0)
        return "";
    const uint8_t bNumber = s.pbFormatted[nField];
    size_t nStart = 0;
    for (uint8_t bAt = 1;; ++bAt)
    {
        if (nStart >= s.cbStrings || s.pbStrings[nStart] == 0)
            return ""; // past the last string
        size_t nEnd = nStart;
        while (nEnd < s.cbStrings && s.pbStrings[nEnd] != 0)
            ++nEnd;
        if (nEnd == s.cbStrings)
            return ""; // cut
        if (bAt == bNumber)
            return CleanValue(s.pbStrings + nStart, nEnd - nStart);
        nStart = nEnd + 1;
    }
}

} // namespace

bool ParseSmbiosIdentity(const uint8_t* pbTable, size_t cbTable, PcIdentity* pIdentity)
{
    *pIdentity = PcIdentity();
    if (!pbTable || cbTable < sizeof(RawSmbiosHeader))
        return false;
    const uint32_t dwLength = Le32(pbTable + offsetof(RawSmbiosHeader, dwLength));
    const uint8_t* pbData = pbTable + sizeof(RawSmbiosHeader);
    const size_t cbGiven = cbTable - sizeof(RawSmbiosHeader);
    // A header that claims more than was handed over: read what is there.
    const bool blWhole = dwLength <= cbGiven;
    const size_t cbData = blWhole ? dwLength : cbGiven;

    bool blHaveSystem = false;
    bool blHaveFirmware = false;
    size_t nAt = 0;
    while (nAt < cbData)
    {
        if (cbData - nAt < sizeof(SmbiosHeader))
            return false;
        const uint8_t bType = pbData[nAt + offsetof(SmbiosHeader, bType)];
        const uint8_t bLength = pbData[nAt + offsetof(SmbiosHeader, bLength)];
        // Too short a length would not even cover the header: where the next
        // structure starts cannot be known.
        if (bLength < sizeof(SmbiosHeader) || bLength > cbData - nAt)
            return false;
        Structure s = {pbData + nAt, bLength, pbData + nAt + bLength, 0};
        const bool blSetWhole = StringSetLength(s.pbStrings, cbData - nAt - bLength, &s.cbStrings);

        if (bType == kTypeSystem && !blHaveSystem)
        {
            blHaveSystem = true;
            pIdentity->systemMaker = FieldString(s, offsetof(SystemInformation, bManufacturer));
            pIdentity->productName = FieldString(s, offsetof(SystemInformation, bProductName));
            pIdentity->sku = FieldString(s, offsetof(SystemInformation, bSkuNumber));
        }
        else if (bType == kTypeFirmware && !blHaveFirmware)
        {
            blHaveFirmware = true;
            pIdentity->firmwareVendor = FieldString(s, offsetof(FirmwareInformation, bVendor));
            pIdentity->firmwareVersion = FieldString(s, offsetof(FirmwareInformation, bVersion));
            pIdentity->firmwareDate = FieldString(s, offsetof(FirmwareInformation, bReleaseDate));
        }
        if (!blSetWhole)
            return false;
        if (bType == kTypeEndOfTable)
            return blWhole;
        nAt += bLength + s.cbStrings;
    }
    // Ends exactly at the table's end without an end-of-table structure: an
    // SMBIOS 2.x table need not have one, and Windows hands over its length.
    return blWhole;
}
