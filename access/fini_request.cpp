#include "fini_request.h"

#include <cstring>

void BuildFiniRequestHeader(uint8_t* pBuf, bool blVer20, uint32_t dwLegacyInterface)
{
    FiniRequestHeader header = {};
    memcpy(header.abSignature, "_FT_", 4);
    header.wLength = sizeof(FiniRequestHeader);
    header.bReserved = 0;
    header.bOne = 1;
    header.dwInterface = blVer20 ? kFiniInterfaceVer20 : dwLegacyInterface;
    header.bNine = 9;
    header.bThree = 3;
    header.dwDate = 0x20100901;
    header.dwZero = 0;
    memset(header.abFill, blVer20 ? 0xFF : 0x00, sizeof(header.abFill));
    memcpy(pBuf, &header, sizeof(header));
}
