// What an owner does with an access object, whichever transport it uses:
// read a flash block, write it back with its first byte changed, read it
// again, and show each step with its result and error-flag word.
#pragma once

#include "access/edab_block.h"
#include "flash/flash_protocol.h"

#include <cstdio>

// The error-flag word, then the name of every bit set in it.
inline void PrintErrFlags(DWORD dwErrFlags)
{
    printf(", error flags 0x%03lX", dwErrFlags);
    for (DWORD dwFlag = 1; dwFlag != 0; dwFlag <<= 1)
    {
        if (dwErrFlags & dwFlag)
            printf(" %s", FlashErrorName(dwFlag));
    }
    printf("\n");
}

inline bool ReadAndShow(EDABBlock& block, DWORD dwBlock, BYTE (&abData)[4096], DWORD* pdwSize)
{
    DWORD dwErrFlags = 0;      // the WMI operations only add bits: clear before every call
    *pdwSize = sizeof(abData); // in: capacity; out: the block's size
    const bool blOk = block.ReadBlock(dwBlock, abData, pdwSize, &dwErrFlags);
    printf("ReadBlock %lu: %s", dwBlock, blOk ? "ok" : "failed");
    if (blOk)
    {
        printf(", %lu bytes:", *pdwSize);
        for (DWORD i = 0; i < 8 && i < *pdwSize; ++i)
            printf(" %02X", abData[i]);
    }
    PrintErrFlags(dwErrFlags);
    return blOk;
}

inline bool RoundTrip(EDABBlock& block, DWORD dwBlock)
{
    BYTE abData[4096];
    DWORD dwSize = 0;
    if (!ReadAndShow(block, dwBlock, abData, &dwSize))
        return false;

    abData[0] ^= 0xFF;
    DWORD dwErrFlags = 0;
    block.szMessage[0] = '\0'; // filled only when the firmware refuses the password
    const bool blOk = block.WriteBlock(dwBlock, abData, dwSize, &dwErrFlags);
    printf("WriteBlock %lu, byte 0 now %02X: %s", dwBlock, abData[0], blOk ? "ok" : "failed");
    PrintErrFlags(dwErrFlags);
    printf("szMessage \"%s\"\n", block.szMessage);
    return blOk && ReadAndShow(block, dwBlock, abData, &dwSize);
}
