#include "debug_print.h"

namespace
{

// The header checks the formats as GNU printf formats: on MinGW they are
// read by the GNU-conforming formatter by name, whichever one the order of
// the includes would pick for vsnprintf.
ARDENTIS_PRINTF(3, 0)
int FormatText(char* pszText, size_t cchText, const char* pszFormat, va_list args)
{
#if defined(__MINGW32__)
    return __mingw_vsnprintf(pszText, cchText, pszFormat, args);
#else
    return vsnprintf(pszText, cchText, pszFormat, args);
#endif
}

} // namespace

// The owner's printf-style debug channel: its format strings are checked by the
// format attribute in the header.
void DebugPrint(FILE** ppLogFile, const char* pszFormat, ...) // NOLINT(cert-dcl50-cpp)
{
    va_list args;
    va_start(args, pszFormat);
    VDebugPrint(ppLogFile, pszFormat, args);
    va_end(args);
}

void VDebugPrint(FILE** ppLogFile, const char* pszFormat, va_list args)
{
    char szPrefix[512];
    char szText[512];
    (void)snprintf(szPrefix, sizeof(szPrefix), "%s %s: ", __DATE__, __TIME__); // 21 characters

    int nLen = FormatText(szText, sizeof(szText), pszFormat, args);
    if (nLen < 0 || nLen > static_cast<int>(sizeof(szText)) - 1)
        return;

    FILE* pFile = ppLogFile ? *ppLogFile : nullptr;
    if (!pFile)
        return;
    // Debug output has no channel to report its own failures on.
    (void)fputs(szPrefix, pFile);
    (void)fwrite(szText, 1, static_cast<size_t>(nLen), pFile);
    (void)fflush(pFile);
}

void DebugDump(FILE** ppLogFile, const void* pData, size_t cbData)
{
    FILE* pFile = ppLogFile ? *ppLogFile : nullptr;
    if (!pFile)
        return;
    (void)fwrite(pData, 1, cbData, pFile); // as above: nowhere to report a failure
    (void)fputs("\n", pFile);
    (void)fflush(pFile);
}
