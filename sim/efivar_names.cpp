#include "efivar_names.h"

#include <cctype>
#include <cstring>

namespace
{

constexpr size_t kGuidTextChars = 36; // without braces
constexpr char kCaseMarker = '^';
constexpr char kEscape = '%';
const char kHexDigits[] = "0123456789ABCDEF";

bool MustEscape(unsigned char ch)
{
    return ch < 0x20 || ch >= 0x7F || strchr("\\/:*?\"<>|%^", ch) != nullptr;
}

int HexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1; // lower-case digits are never written, so never read
}

void AppendByte(std::string* pOut, unsigned char ch, bool blCaseSafe)
{
    if (MustEscape(ch))
    {
        *pOut += kEscape;
        *pOut += kHexDigits[ch >> 4];
        *pOut += kHexDigits[ch & 15];
    }
    else if (blCaseSafe && ch >= 'A' && ch <= 'Z')
    {
        *pOut += kCaseMarker;
        *pOut += static_cast<char>(ch);
    }
    else
        *pOut += static_cast<char>(ch);
}

std::string FileName(const char* pszName, const char* pszGuid, bool blCaseSafe)
{
    std::string fileName;
    if (blCaseSafe)
        fileName += kCaseMarker;
    for (const char* p = pszName; *p; ++p)
        AppendByte(&fileName, static_cast<unsigned char>(*p), blCaseSafe);
    fileName += '-';
    size_t cchGuid = strlen(pszGuid);
    for (size_t i = 1; i + 1 < cchGuid; ++i)
        fileName += static_cast<char>(tolower(static_cast<unsigned char>(pszGuid[i])));
    return fileName;
}

bool DecodeName(const std::string& encoded, std::string* pName)
{
    bool blCaseSafe = !encoded.empty() && encoded[0] == kCaseMarker;
    std::string name;
    for (size_t i = blCaseSafe ? 1 : 0; i < encoded.size(); ++i)
    {
        unsigned char ch = static_cast<unsigned char>(encoded[i]);
        if (ch == kEscape)
        {
            int nHigh = i + 2 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
            int nLow = nHigh >= 0 ? HexValue(encoded[i + 2]) : -1;
            if (nLow < 0 || !MustEscape(static_cast<unsigned char>(nHigh * 16 + nLow)))
                return false;
            name += static_cast<char>(nHigh * 16 + nLow);
            i += 2;
        }
        else if (blCaseSafe && ch == kCaseMarker)
        {
            if (i + 1 >= encoded.size() || encoded[i + 1] < 'A' || encoded[i + 1] > 'Z')
                return false;
            name += encoded[++i];
        }
        else if (MustEscape(ch) || (blCaseSafe && ch >= 'A' && ch <= 'Z'))
            return false;
        else
            name += static_cast<char>(ch);
    }
    if (name.empty())
        return false; // no variable has the empty name
    *pName = name;
    return true;
}

} // namespace

bool IsBracedGuid(const char* pszGuid)
{
    static const char kPattern[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (strlen(pszGuid) != sizeof kPattern - 1)
        return false;
    for (size_t i = 0; kPattern[i]; ++i)
    {
        if (kPattern[i] == 'x')
        {
            if (!isxdigit(static_cast<unsigned char>(pszGuid[i])))
                return false;
        }
        else if (pszGuid[i] != kPattern[i])
            return false;
    }
    return true;
}

std::string VariableFileName(const char* pszName, const char* pszGuid)
{
    return FileName(pszName, pszGuid, false);
}

std::string CaseSafeVariableFileName(const char* pszName, const char* pszGuid)
{
    return FileName(pszName, pszGuid, true);
}

bool ParseVariableFileName(const std::string& fileName, std::string* pName, std::string* pGuid)
{
    if (fileName.size() < kGuidTextChars + 2 ||
        fileName[fileName.size() - kGuidTextChars - 1] != '-')
        return false;
    std::string guid = fileName.substr(fileName.size() - kGuidTextChars);
    std::string braced = "{" + guid + "}";
    if (!IsBracedGuid(braced.c_str()))
        return false;
    for (char ch : guid)
        if (ch >= 'A' && ch <= 'F')
            return false; // the store writes the GUID in lower case only
    std::string name;
    if (!DecodeName(fileName.substr(0, fileName.size() - kGuidTextChars - 1), &name))
        return false;
    *pName = name;
    *pGuid = guid;
    return true;
}
