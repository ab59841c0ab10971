// The EXTF scan and the descriptor copy over an arbitrary 64 KiB segment
// image held in an exactly sized heap buffer, against a plain byte-by-byte
// reference. Input: u16 where the rest of the input lands in the segment
// (the other bytes are BIOS-like filler), then the segment bytes.
#include "access/flash_smi_table.h"
#include "fuzz_common.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    fuzz::Reader in(pbData, cbData);
    const uint16_t wAt = in.Word();
    fuzz::Image seg(kBiosSegmentSize, 0x90);
    seg.Place(in, wAt);

    // Reference: the first 4-byte step whose signature lies wholly inside.
    size_t nExpected = 0;
    bool blExpected = false;
    for (size_t o = 0; o < seg.cb - 4 && !blExpected; o += 4)
        if (memcmp(seg.pb + o, "EXTF", 4) == 0)
        {
            nExpected = o;
            blExpected = true;
        }
    // 0xFFFC is never tested, 0xFFF8 is.
    Check(!blExpected || nExpected <= 0xFFF8);

    ExtfInfo info;
    memset(&info, 0x5A, sizeof(info));
    const bool blFound = FindExtf(seg.pb, seg.cb, &info);
    Check(blFound == blExpected);
    if (!blFound)
        return 0;
    Check(info.dwOffset == nExpected);
    const size_t cbLeft = seg.cb - nExpected;
    Check(info.cbVisible == (cbLeft < kExtfSize ? cbLeft : kExtfSize));
    Check(info.bVersion == seg.pb[nExpected + kExtfVersionOffset]); // 0xFFF8 + 7 is inside
    Check(info.blHeaderComplete == (nExpected + 10 <= seg.cb));
    if (!info.blHeaderComplete)
        return 0;
    const uint16_t wDesc =
        static_cast<uint16_t>(seg.pb[nExpected + 8] | seg.pb[nExpected + 9] << 8);
    Check(info.wDescriptorOffset == wDesc);

    FlashSmiTableInfo table;
    memset(&table, 0x33, sizeof(table));
    const bool blCopied = CopyFlashSmiTableInfo(seg.pb, seg.cb, wDesc, &table);
    Check(blCopied == (wDesc + sizeof(FlashSmiTableInfo) <= seg.cb));
    if (blCopied)
        Check(memcmp(&table, seg.pb + wDesc, sizeof(table)) == 0);
    else
        for (size_t i = 0; i < sizeof(table); ++i)
            Check(reinterpret_cast<const uint8_t*>(&table)[i] == 0x33);

    // The same scan over an image cut short at the descriptor: a descriptor
    // that does not fit is refused, never read past.
    const size_t cbCut = wDesc + 12u < seg.cb ? wDesc + 12u : seg.cb;
    fuzz::Image cut(cbCut, 0);
    memcpy(cut.pb, seg.pb, cbCut);
    Check(!CopyFlashSmiTableInfo(cut.pb, cut.cb, wDesc, &table));
    ExtfInfo cutInfo;
    if (FindExtf(cut.pb, cut.cb, &cutInfo))
        Check(cutInfo.dwOffset + cutInfo.cbVisible <= cut.cb && cutInfo.dwOffset + 4 < cut.cb);
    return 0;
}
