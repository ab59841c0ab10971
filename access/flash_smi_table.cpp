#include "flash_smi_table.h"

#include <cstring>

bool FindExtf(const uint8_t* pSeg, size_t cbSeg, ExtfInfo* pInfo)
{
    for (size_t o = 0; o + 4 < cbSeg; o += 4)
    {
        uint32_t dwSig;
        memcpy(&dwSig, pSeg + o, 4);
        if (dwSig != kExtfSignature)
            continue;
        ExtfInfo info = {};
        info.dwOffset = static_cast<uint32_t>(o);
        // A structure near the segment end is cut off by the mapping: only
        // the bytes inside it may be looked at.
        size_t cbLeft = cbSeg - o;
        info.cbVisible = cbLeft < kExtfSize ? cbLeft : kExtfSize;
        info.bVersion = o + kExtfVersionOffset < cbSeg ? pSeg[o + kExtfVersionOffset] : 0;
        info.blHeaderComplete = o + kExtfDescriptorOffset + 2 <= cbSeg;
        if (info.blHeaderComplete)
            info.wDescriptorOffset = static_cast<uint16_t>(
                pSeg[o + kExtfDescriptorOffset] | pSeg[o + kExtfDescriptorOffset + 1] << 8);
        *pInfo = info;
        return true;
    }
    return false;
}

bool CopyFlashSmiTableInfo(const uint8_t* pSeg, size_t cbSeg, uint32_t dwOffset,
                           FlashSmiTableInfo* pInfo)
{
    if (dwOffset > cbSeg || cbSeg - dwOffset < sizeof(FlashSmiTableInfo))
        return false;
    memcpy(pInfo, pSeg + dwOffset, sizeof(FlashSmiTableInfo));
    return true;
}
