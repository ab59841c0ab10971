// An arbitrary WMI return: the 256-byte argument buffer and the 4096-byte
// payload as the firmware hands them back, in exactly sized heap buffers.
// The call header is read and judged against plain little-endian reads,
// rewritten without touching anything past its 17 bytes, and every code
// has a text. The payload goes through the same reply parsers as over SMI.
//
// Input: u32 a WMI-ACPI code, u8 step, then 256 bytes of argument buffer,
// then the payload.
#include "flash/flash_protocol.h"
#include "fuzz_common.h"
#include "wmi/wmi_protocol.h"

#include <cstdio>
#include <string>

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    fuzz::Reader in(pbData, cbData);
    const uint32_t dwCode = in.Dword();
    const WmiStep step = static_cast<WmiStep>(in.Byte() % 5);
    fuzz::Image arg(kWmiArgSize, 0);
    in.Rest(arg.pb, arg.cb);
    fuzz::Image payload(kWmiPayloadSize, 0);
    in.Rest(payload.pb, payload.cb);
    const uint8_t* pb = arg.pb;

    const WmiCallHeader header = WmiReadHeader(pb);
    Check(header.Signature == (pb[0] | pb[1] << 8));
    Check(header.Revision == (pb[2] | pb[3] << 8));
    Check(header.BufferSize == (pb[4] | pb[5] << 8));
    Check(header.Status == pb[6] && header.ErrorCode == pb[7] && header.SubFunction == pb[8]);
    Check(header.ParamWord == (pb[9] | pb[10] << 8));
    Check(header.ParamDword == fuzz::Le32(pb + 11));
    Check(header.ParamLength == (pb[15] | pb[16] << 8));
    Check(WmiIsComplete(header) == ((pb[6] & 0x80) != 0));
    Check(WmiHasFailed(header) == ((pb[6] & 0x02) != 0));
    Check(WmiMarkerStanding(header) == (pb[9] == 0xAA && pb[10] == 0xAA));

    // The next request over what the firmware left: the first eight bytes
    // are the request's, the parameter fields and the rest stay.
    fuzz::Image next(kWmiArgSize, 0);
    memcpy(next.pb, pb, arg.cb);
    WmiBeginRequest(next.pb);
    const uint8_t abBegin[8] = {0x66, 0, 1, 0, 0, 1, 0, 0};
    Check(memcmp(next.pb, abBegin, 8) == 0);
    Check(memcmp(next.pb + 8, pb + 8, arg.cb - 8) == 0);
    WmiWriteHeader(next.pb, header);
    Check(memcmp(next.pb, pb, arg.cb) == 0);

    // Return dump: eight bytes, each "%X ".
    std::string dump = "Call Func return:\n";
    char szByte[4];
    for (int i = 0; i < 8; ++i)
    {
        (void)snprintf(szByte, sizeof(szByte), "%X ", pb[i]);
        dump += szByte;
    }
    Check(WmiFormatReturnDump(pb) == dump);

    // Every code has a text; past the table it is the common one.
    const char* pszName = WmiErrorName(dwCode);
    Check(pszName != nullptr && strnlen(pszName, 64) < 64 && pszName[0] != '\0');
    Check((strcmp(pszName, "Unknown ERROR") == 0) == (dwCode > 35));
    const char* const apszSteps[] = {"SetWARG", "SetWPLD", "CallMethod", "GetWARG", "GetWPLD"};
    char szError[160];
    (void)snprintf(szError, sizeof(szError), "%s - Error(%d):%s", apszSteps[static_cast<int>(step)],
                   static_cast<int>(dwCode), pszName);
    Check(WmiFormatStepError(step, dwCode) == szError);

    // The payload's reply record and error info stay inside the payload.
    size_t nRecord = 0;
    FiniReplyRecord record;
    if (FindFiniReplyRecord(payload.pb, payload.cb, &nRecord, &record))
    {
        Check(nRecord + sizeof(record) <= payload.cb);
        FiniErrorInfo info;
        const uint32_t dwInfo = record.dwErrorInfoOffset;
        if (ReadFiniErrorInfo(payload.pb, payload.cb, dwInfo, &info))
            Check(dwInfo + 4ull <= payload.cb && strlen(info.szText) <= kErrorTextMax);
        else
            Check(dwInfo + 4ull > payload.cb);
    }
    Check(HasReplySignature(payload.pb, payload.cb) == (memcmp(payload.pb + 32, "_$$_", 4) == 0));
    return 0;
}
