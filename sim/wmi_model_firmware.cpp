#include "wmi_model_firmware.h"

#include "wmi/wmi_protocol.h"

void WmiModelFirmware::Process(uint8_t* pbArg, uint8_t* pbPayload)
{
    argsReceived.emplace_back(pbArg, pbArg + kWmiArgSize);
    payloadsReceived.emplace_back(pbPayload, pbPayload + kWmiPayloadSize);

    WmiCallHeader header = WmiReadHeader(pbArg);
    if (header.Signature != kWmiSignature || header.Revision != kWmiRevision ||
        header.BufferSize != kWmiBufferSize)
        return; // not a request of this protocol: nothing to answer
    if (nCompleteAfter <= 0 || ++m_nBusyExchanges < nCompleteAfter)
        return; // still busy
    m_nBusyExchanges = 0;
    const int nCall = ++nCompletedCalls;

    if (nCall == nFailCall)
    {
        header.Status |= kWmiStatusComplete | kWmiStatusError;
        header.ErrorCode = bFailErrorCode;
        WmiWriteHeader(pbArg, header);
        return;
    }

    FirmwareRequest request;
    request.bFunction = header.SubFunction;
    request.wParam = header.ParamWord;
    request.dwParam = header.ParamDword;
    request.dwLength = header.ParamLength;
    // Over WMI every address the firmware was handed names the payload.
    PayloadResolver resolve = [pbPayload](uint32_t) { return pbPayload; };
    const FirmwareReply reply = m_model.Handle(request, resolve);
    if (!reply.blAnswered)
    {
        // A call the firmware never completes stays busy on every exchange.
        --nCompletedCalls;
        return;
    }

    header.Status |= kWmiStatusComplete;
    if (reply.wResult == kResultUnsupported)
    {
        header.Status |= kWmiStatusError;
        header.ErrorCode = 1; // function not supported
    }
    if (nCall != nLeaveParamWordCall)
        header.ParamWord = reply.wResult;
    if (reply.blOutParams)
    {
        header.ParamDword = reply.dwOutParam;
        header.ParamLength = reply.wOutLength;
    }
    WmiWriteHeader(pbArg, header);
}
