// Baseline for the dump benchmark: what any run of the tool must pay, and no
// more. The two command-interpreter calls of the banner and the exit routine,
// and one fwrite of as many bytes of text as the dump of an n-byte variable
// makes (3n + 2(ceil(n/16) - 1)).
//
// Usage: baseline <variable size in bytes> <output file>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: baseline <variable size> <output file>\n");
        return 2;
    }
    size_t cbVariable = strtoul(argv[1], nullptr, 10);
    system("@echo off");
    size_t cbText = cbVariable ? 3 * cbVariable + 2 * ((cbVariable + 15) / 16 - 1) : 0;
    char* pszText = static_cast<char*>(malloc(cbText ? cbText : 1));
    if (!pszText)
        return 1;
    memset(pszText, 'A', cbText);
    FILE* pFile = fopen(argv[2], "wb");
    if (!pFile || fwrite(pszText, 1, cbText, pFile) != cbText || fclose(pFile) != 0)
        return 1;
    free(pszText);
    system("@echo on");
    return 0;
}
