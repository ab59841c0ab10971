// ReadBlock, WriteBlock and OemData of WMIGeneric: the steps of the SMI
// operations, with the firmware functions called over WMI and the data in
// the object's payload buffer WPLDBuf.
#include "block_flow.h"
#include "flash_protocol.h"

#include "access/debug_print.h"
#include "wmi/wmi_generic.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace
{

// WPLDBuf belongs to the object: nothing to allocate, lock or free, and the
// error flags a caller passes in are only added to.
class WmiBlockFlow : public BlockFlow
{
public:
    WmiBlockFlow(WMIGeneric& block, BlockOp op, DWORD* pdwErrFlags)
        : BlockFlow(block, op, pdwErrFlags), m_wmi(block)
    {
    }
    ~WmiBlockFlow() override = default;

protected:
    // The request header is written by CallWmiFunction for FINI.
    bool Begin() override { return true; }
    bool Call(DWORD dwCode, DWORD dwArgument) override
    {
        return m_wmi.CallWmiFunction(dwCode, dwArgument, &m_dwResult);
    }
    BYTE* Buffer() override { return m_wmi.WPLDBuf; }
    // The firmware takes the request from the payload; the address is passed
    // as a 32-bit value all the same.
    DWORD FiniArgument() override
    {
        return static_cast<DWORD>(reinterpret_cast<uintptr_t>(m_wmi.WPLDBuf));
    }
    void Free(FreeText) override {}
    BYTE* Lock() override { return m_wmi.WPLDBuf; }
    void Unlock() override {}

private:
    WMIGeneric& m_wmi;
};

static_assert(sizeof(WMIGeneric::WPLDBuf) == kTransferBufferSize,
              "the payload buffer stands in for the transfer buffer");

} // namespace

bool WMIGeneric::ReadBlock(DWORD dwBlock, BYTE* pData, DWORD* pdwSize, DWORD* pdwErrFlags)
{
    WmiBlockFlow flow(*this, BlockOp::Read, pdwErrFlags);
    return flow.ReadBlock(dwBlock, pData, pdwSize);
}

bool WMIGeneric::WriteBlock(DWORD dwBlock, BYTE* pData, DWORD dwSize, DWORD* pdwErrFlags)
{
    WmiBlockFlow flow(*this, BlockOp::Write, pdwErrFlags);
    return flow.WriteBlock(dwBlock, pData, dwSize);
}

bool WMIGeneric::OemData(BYTE bType, DWORD dwValue, BYTE* pData, DWORD* pdwLen, BYTE* pbOut,
                         DWORD* pdwStatus)
{
    std::memset(WPLDBuf, 0, sizeof(WPLDBuf));
    std::memset(WARGBuf, 0, 192);

    if (bType == OEMDATA_WRITE)
    {
        if (*pdwLen > sizeof(WPLDBuf) || !pData)
            return false;
        std::memcpy(WPLDBuf, pData, *pdwLen);
    }

    const bool blBuffer = bType == OEMDATA_WRITE || bType == OEMDATA_READ;
    long long nExchanges = 0;
    for (;;)
    {
        WmiBeginRequest(WARGBuf);
        WmiCallHeader header = WmiReadHeader(WARGBuf);
        header.SubFunction = kFnOemData;
        header.ParamWord = bType;
        if (blBuffer)
            header.ParamDword = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(WPLDBuf));
        // Only 16 bits travel: a larger value is cut, not refused.
        if (bType >= OEMDATA_SET && bType <= OEMDATA_READ)
            header.ParamLength = static_cast<uint16_t>(dwValue);
        WmiWriteHeader(WARGBuf, header);
        if (bType > OEMDATA_READ)
            return false;

        if (!CallFunc(WARGBuf, sizeof(WARGBuf), WPLDBuf, static_cast<WORD>(sizeof(WPLDBuf))))
            return false;
        ++nExchanges;
        if (RetryLimitPassed(nExchanges))
            return false;
        if (WmiIsComplete(WmiReadHeader(WARGBuf)))
            break;
    }

    const WmiCallHeader header = WmiReadHeader(WARGBuf);
    if (FirmwareRefused(header))
        return false;
    if (bType == OEMDATA_READ)
    {
        if (*pdwLen > sizeof(WPLDBuf) || !pData)
            return false;
        std::memcpy(pData, WPLDBuf, *pdwLen);
    }
    // No marker test here: the status is what the firmware left.
    *pdwStatus = header.ParamWord;
    if (bType == OEMDATA_QUERY)
    {
        *pdwLen = header.ParamDword;
        *pbOut = static_cast<BYTE>(header.ParamLength);
    }
    return true;
}
