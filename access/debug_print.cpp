#include "debug_print.h"

#include <cstdarg>

void DebugPrint(FILE** ppLogFile, const char* pszFormat, ...)
{
    char szPrefix[512];
    char szText[512];
    snprintf(szPrefix, sizeof(szPrefix), "%s %s: ", __DATE__, __TIME__);

    va_list args;
    va_start(args, pszFormat);
    int nLen = vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    if (nLen < 0 || nLen > static_cast<int>(sizeof(szText)) - 1)
        return;

    FILE* pFile = ppLogFile ? *ppLogFile : nullptr;
    if (!pFile)
        return;
    fputs(szPrefix, pFile);
    fwrite(szText, 1, static_cast<size_t>(nLen), pFile);
    fflush(pFile);
}

void DebugDump(FILE** ppLogFile, const void* pData, size_t cbData)
{
    FILE* pFile = ppLogFile ? *ppLogFile : nullptr;
    if (!pFile)
        return;
    fwrite(pData, 1, cbData, pFile);
    fputs("\n", pFile);
    fflush(pFile);
}
