// The PC's identity read from any bytes as an SMBIOS table, in exactly sized
// heap buffers: the same values and verdict as a plain reference reader;
// every value printable ASCII, without trailing spaces, at most
// kSmbiosMaxValueChars; and the table cut short gives no value the whole one
// does not, and is never whole while its header claims bytes past the cut.
#include "fleet/smbios.h"

#include "fuzz_common.h"

#include <string>
#include <vector>

namespace
{

struct Result
{
    PcIdentity identity;
    bool blWhole;
};

Result Parse(const uint8_t* pbData, size_t cbData)
{
    fuzz::Image image(cbData, 0);
    if (cbData)
        memcpy(image.pb, pbData, cbData);
    Result result;
    result.blWhole = ParseSmbiosIdentity(image.pb, image.cb, &result.identity);
    return result;
}

std::vector<std::string> Fields(const PcIdentity& id)
{
    return {id.systemMaker,    id.productName,     id.sku,
            id.firmwareVendor, id.firmwareVersion, id.firmwareDate};
}

// The reference: the same rules, written with std::string's searches.
std::string RefValue(const std::string& formatted, const std::string& strings, size_t nField)
{
    if (nField >= formatted.size())
        return "";
    // Complete strings: the pieces before the last NUL, up to the first empty one.
    std::vector<std::string> pieces;
    size_t nStart = 0;
    for (size_t nNul; (nNul = strings.find('\0', nStart)) != std::string::npos; nStart = nNul + 1)
        pieces.push_back(strings.substr(nStart, nNul - nStart));
    size_t nCount = 0;
    while (nCount < pieces.size() && !pieces[nCount].empty())
        ++nCount;
    const size_t nNumber = static_cast<uint8_t>(formatted[nField]);
    if (nNumber == 0 || nNumber > nCount)
        return "";
    std::string value = pieces[nNumber - 1].substr(0, kSmbiosMaxValueChars);
    for (char& ch : value)
        if (ch < 0x20 || ch > 0x7E)
            ch = '?';
    const size_t nLast = value.find_last_not_of(' ');
    return nLast == std::string::npos ? "" : value.substr(0, nLast + 1);
}

Result Reference(const std::string& table)
{
    Result result{PcIdentity(), false};
    if (table.size() < 8)
        return result;
    const uint32_t dwLength = fuzz::Le32(reinterpret_cast<const uint8_t*>(table.data()) + 4);
    const bool blLengthFits = dwLength <= table.size() - 8;
    const std::string data = table.substr(8, dwLength);
    bool blSystem = false;
    bool blFirmware = false;
    for (size_t nAt = 0;;)
    {
        if (nAt == data.size())
        {
            result.blWhole = blLengthFits;
            return result;
        }
        if (data.size() - nAt < 4)
            return result;
        const uint8_t bType = static_cast<uint8_t>(data[nAt]);
        const size_t cbFormatted = static_cast<uint8_t>(data[nAt + 1]);
        if (cbFormatted < 4 || nAt + cbFormatted > data.size())
            return result;
        const std::string formatted = data.substr(nAt, cbFormatted);
        const size_t nSetEnd = data.find(std::string(2, '\0'), nAt + cbFormatted);
        const std::string strings =
            nSetEnd == std::string::npos
                ? data.substr(nAt + cbFormatted)
                : data.substr(nAt + cbFormatted, nSetEnd + 2 - nAt - cbFormatted);
        PcIdentity& id = result.identity;
        if (bType == 1 && !blSystem)
        {
            blSystem = true;
            id.systemMaker = RefValue(formatted, strings, 4);
            id.productName = RefValue(formatted, strings, 5);
            id.sku = RefValue(formatted, strings, 0x19);
        }
        else if (bType == 0 && !blFirmware)
        {
            blFirmware = true;
            id.firmwareVendor = RefValue(formatted, strings, 4);
            id.firmwareVersion = RefValue(formatted, strings, 5);
            id.firmwareDate = RefValue(formatted, strings, 8);
        }
        if (nSetEnd == std::string::npos)
            return result;
        if (bType == 127)
        {
            result.blWhole = blLengthFits;
            return result;
        }
        nAt = nSetEnd + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    const Result whole = Parse(pbData, cbData);
    const Result reference = Reference(std::string(reinterpret_cast<const char*>(pbData), cbData));
    fuzz::Check(whole.blWhole == reference.blWhole);
    fuzz::Check(Fields(whole.identity) == Fields(reference.identity));
    for (const std::string& value : Fields(whole.identity))
    {
        fuzz::Check(value.size() <= kSmbiosMaxValueChars);
        fuzz::Check(value.empty() || value.back() != ' ');
        for (char ch : value)
            fuzz::Check(ch >= 0x20 && ch <= 0x7E);
    }

    for (size_t cbCut : {cbData / 2, cbData ? cbData - 1 : 0})
    {
        const Result cut = Parse(pbData, cbCut);
        const std::vector<std::string> cutFields = Fields(cut.identity);
        const std::vector<std::string> wholeFields = Fields(whole.identity);
        for (size_t i = 0; i < cutFields.size(); ++i)
            fuzz::Check(cutFields[i].empty() || cutFields[i] == wholeFields[i]);
        if (cbCut < 8 || fuzz::Le32(pbData + 4) > cbCut - 8)
            fuzz::Check(!cut.blWhole);
    }
    return 0;
}
