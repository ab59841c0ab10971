#include "efivar_names.h"

#include <cctype>
#include <cstring>

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

bool IsZeroGuid(const char* pszGuid)
{
    return strcmp(pszGuid, "{00000000-0000-0000-0000-000000000000}") == 0;
}

bool IsStorableName(const char* pszName)
{
    for (const char* p = pszName; *p; ++p)
    {
        unsigned char ch = static_cast<unsigned char>(*p);
        if (ch < 0x20 || strchr("\\/:*?\"<>|", ch))
            return false;
    }
    // "." and ".." alone would name the folder or its parent.
    return strcmp(pszName, ".") != 0 && strcmp(pszName, "..") != 0;
}

std::string VariableFileName(const char* pszName, const char* pszGuid)
{
    std::string name(pszName);
    name += '-';
    for (size_t i = 1; i + 1 < strlen(pszGuid); ++i)
        name += static_cast<char>(tolower(static_cast<unsigned char>(pszGuid[i])));
    return name;
}
