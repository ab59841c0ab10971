// The dump formatter against a plain reference, for any bytes and any start
// index: same text, never past its capacity.
#include "fwvar/dump_format.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    if (cbData < 1)
        return 0;
    size_t nFirst = pbData[0]; // where the chunk starts in the variable
    const uint8_t* pbBytes = pbData + 1;
    size_t cbBytes = cbData - 1;

    std::string expected;
    char szEntry[4];
    for (size_t i = 0; i < cbBytes; ++i)
    {
        size_t nIndex = nFirst + i;
        if (nIndex != 0 && nIndex % 16 == 0)
            expected += "\r\n";
        (void)snprintf(szEntry, sizeof szEntry, "%02X ", pbBytes[i]);
        expected += szEntry;
    }

    std::vector<char> out(DumpChunkCapacity(cbBytes));
    size_t cch = FormatDumpText(pbBytes, cbBytes, nFirst, out.data());
    if (cch > out.size() || std::string(out.data(), cch) != expected)
        abort();
    if (nFirst == 0 && cch != DumpTextSize(cbBytes))
        abort();
    return 0;
}
