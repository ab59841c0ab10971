#include "arg_text.h"

bool ArgIs(const char* pszArg, const char* pszName)
{
    for (;; ++pszArg, ++pszName)
    {
        unsigned char a = static_cast<unsigned char>(*pszArg);
        unsigned char b = static_cast<unsigned char>(*pszName);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b)
            return false;
        if (a == '\0')
            return true;
    }
}
