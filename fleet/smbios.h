// The PC's identity as its firmware's SMBIOS table gives it: the system's
// maker, product name and SKU, the firmware's vendor, version and date.
// Pure: builds natively for the sanitizers and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Longest value kept, in characters; longer strings are cut. Real ones are
// far shorter; the cut keeps a hostile table from filling logs.
constexpr size_t kSmbiosMaxValueChars = 128;

// Each field is empty when the table does not give it (the caller shows
// "unknown"). Values are printable ASCII only: every byte outside 0x20..0x7E
// shows as '?', trailing spaces are dropped, at most kSmbiosMaxValueChars.
struct PcIdentity
{
    std::string systemMaker;     // system information (type 1): Manufacturer
    std::string productName;     //   Product Name
    std::string sku;             //   SKU Number (only in a type 1 long enough for it)
    std::string firmwareVendor;  // firmware information (type 0): Vendor
    std::string firmwareVersion; //   BIOS Version
    std::string firmwareDate;    //   BIOS Release Date, as the firmware writes it
};

// Reads the identity from exactly the bytes GetSystemFirmwareTable('RSMB', 0,
// ...) returns: the 8-byte header (calling method, SMBIOS major and minor
// version, DMI revision, little-endian 32-bit table length), then the
// structures. *pIdentity is replaced; it gets what could be read even when the
// table is damaged. Returns whether the table was whole: the header present,
// its length within the bytes given, and every structure up to the end-of-
// table structure (type 127), or up to exactly the table's end, complete.
// Rules:
// - Only the first structure of type 1 and the first of type 0 count; a field
//   the first lacks is not taken from a later one.
// - A field is read only when the structure's formatted length reaches it.
// - String number 0 and a number past the structure's strings give ""; the
//   strings end at the first empty one.
// - A structure whose formatted area or header is cut, or whose length is
//   below 4, ends the walk (nothing after it can be found): not whole.
// - A string set that runs into the table's end: not whole; its strings that
//   end inside the table are still read, the cut one gives "".
// - Bytes past the table's length, or after the end-of-table structure, are
//   not read.
bool ParseSmbiosIdentity(const uint8_t* pbTable, size_t cbTable, PcIdentity* pIdentity);
