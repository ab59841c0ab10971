// Reading the bad-input tables kept beside the test programs: tab-separated
// rows, "#" comments, and the small notations the rows share. Also the
// caller's buffer with guard bytes that every row checks.
#pragma once

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

struct TableRow
{
    int nLine;
    std::vector<std::string> cols;
};

// Splits at ch; with nMax the last part keeps the rest of the text.
inline std::vector<std::string> SplitText(const std::string& str, char ch, size_t nMax = 0)
{
    std::vector<std::string> parts;
    size_t nStart = 0;
    for (;;)
    {
        const size_t nEnd = str.find(ch, nStart);
        if (nEnd == std::string::npos || (nMax && parts.size() + 1 == nMax))
        {
            parts.push_back(str.substr(nStart));
            return parts;
        }
        parts.push_back(str.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
}

inline uint32_t TableNumber(const std::string& str)
{
    return static_cast<uint32_t>(strtoul(str.c_str(), nullptr, 0));
}

// "x92" stands for 92 times 'x', "fill80" for 80 times 'p'.
inline std::string ExpandText(const std::string& str)
{
    if (str == "fill80")
        return std::string(80, 'p');
    std::string out;
    for (size_t i = 0; i < str.size(); ++i)
    {
        size_t nDigits = 0;
        while (str[i] == 'x' && i + 1 + nDigits < str.size() &&
               isdigit(static_cast<unsigned char>(str[i + 1 + nDigits])))
            ++nDigits;
        if (nDigits == 0)
        {
            out += str[i];
            continue;
        }
        out += std::string(atoi(str.substr(i + 1, nDigits).c_str()), 'x');
        i += nDigits;
    }
    return out;
}

// The checks of a text column, separated by " && ".
inline std::vector<std::string> TextChecks(const std::string& column)
{
    std::vector<std::string> checks;
    if (column == "-")
        return checks;
    size_t nStart = 0;
    for (;;)
    {
        const size_t nEnd = column.find(" && ", nStart);
        checks.push_back(column.substr(nStart, nEnd - nStart));
        if (nEnd == std::string::npos)
            return checks;
        nStart = nEnd + 4;
    }
}

// The rows of a table in the folder of the running test program.
inline std::vector<TableRow> ReadTableBesideProgram(const char* pszLeaf)
{
    char szPath[MAX_PATH];
    const DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath, cch);
    strPath = strPath.substr(0, strPath.find_last_of("\\/") + 1) + pszLeaf;
    std::ifstream file(strPath);
    std::vector<TableRow> rows;
    std::string line;
    for (int nLine = 1; std::getline(file, line); ++nLine)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        rows.push_back({nLine, SplitText(line, '\t')});
    }
    return rows;
}

// A caller's buffer with guard bytes on both sides.
struct GuardedBuffer
{
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kGuardByte = 0xCD;

    explicit GuardedBuffer(size_t cb) : cbData(cb), bytes(cb + 2 * kGuard, kGuardByte)
    {
        for (size_t i = 0; i < cb; ++i)
            Data()[i] = static_cast<uint8_t>(0x40 + i * 5);
    }
    uint8_t* Data() { return bytes.data() + kGuard; }
    const uint8_t* Data() const { return bytes.data() + kGuard; }
    bool GuardsIntact() const
    {
        for (size_t i = 0; i < kGuard; ++i)
            if (bytes[i] != kGuardByte || bytes[kGuard + cbData + i] != kGuardByte)
                return false;
        return true;
    }
    size_t cbData;
    std::vector<uint8_t> bytes;
};
