#include "dump_format.h"

#include <cstring>

namespace
{

struct HexTable
{
    char ach[256][3];
    constexpr HexTable() : ach()
    {
        const char* pszDigits = "0123456789ABCDEF";
        for (int i = 0; i < 256; ++i)
        {
            ach[i][0] = pszDigits[i >> 4];
            ach[i][1] = pszDigits[i & 15];
            ach[i][2] = ' ';
        }
    }
};

constexpr HexTable kHex;

} // namespace

size_t DumpTextSize(size_t cbData)
{
    if (cbData == 0)
        return 0;
    size_t nLines = (cbData + kDumpBytesPerLine - 1) / kDumpBytesPerLine;
    return 3 * cbData + 2 * (nLines - 1);
}

size_t FormatDumpText(const uint8_t* pbData, size_t cbData, size_t nFirstIndex, char* pszOut)
{
    char* p = pszOut;
    size_t i = 0;
    // Bytes up to the next line boundary, then whole lines, then the rest.
    while (i < cbData)
    {
        size_t nIndex = nFirstIndex + i;
        if (nIndex != 0 && nIndex % kDumpBytesPerLine == 0)
        {
            p[0] = '\r';
            p[1] = '\n';
            p += 2;
        }
        size_t nRun = kDumpBytesPerLine - nIndex % kDumpBytesPerLine;
        if (nRun > cbData - i)
            nRun = cbData - i;
        for (size_t j = 0; j < nRun; ++j, p += 3)
            memcpy(p, kHex.ach[pbData[i + j]], 3);
        i += nRun;
    }
    return static_cast<size_t>(p - pszOut);
}
