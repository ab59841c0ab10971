// The dump file's text: each byte as "%02X ", 16 to a line, CR LF between
// lines and nothing after the last entry. Pure, so it builds natively too.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kDumpBytesPerLine = 16;

// Bytes of text for a variable of cbData bytes: 3n + 2(ceil(n/16) - 1).
size_t DumpTextSize(size_t cbData);

// Room FormatDumpText needs for cbData bytes, wherever they start.
constexpr size_t DumpChunkCapacity(size_t cbData)
{
    return 3 * cbData + 2 * (cbData / kDumpBytesPerLine + 1);
}

// Formats pbData[0 .. cbData) as the bytes starting at index nFirstIndex of
// the variable (which decides where the line ends fall) into pszOut, which
// holds at least DumpChunkCapacity(cbData) bytes. Returns the bytes written;
// no terminator is added.
size_t FormatDumpText(const uint8_t* pbData, size_t cbData, size_t nFirstIndex, char* pszOut);
