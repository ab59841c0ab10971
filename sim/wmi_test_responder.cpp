#include "wmi_test_responder.h"

#include "wmi/wmi_protocol.h"

void WmiTestResponder::Process(uint8_t* pbArg, uint8_t* pbPayload)
{
    ++nExchanges;
    argsReceived.emplace_back(pbArg, pbArg + kWmiArgSize);
    payloadsReceived.emplace_back(pbPayload, pbPayload + kWmiPayloadSize);

    WmiCallHeader header = WmiReadHeader(pbArg);
    if (header.Signature != kWmiSignature || header.Revision != kWmiRevision ||
        header.BufferSize != kWmiBufferSize)
        return; // not a request of this protocol: nothing to answer
    if (nCompleteAfter <= 0 || nExchanges < nCompleteAfter)
        return; // still busy: Status stays as the caller wrote it

    header.Status |= kWmiStatusComplete;
    if (blFail)
    {
        header.Status |= kWmiStatusError;
        header.ErrorCode = bErrorCode;
    }
    if (!blLeaveParamWord)
        header.ParamWord = wResult;
    WmiWriteHeader(pbArg, header);
    for (const auto& change : payloadChanges)
        if (change.first < kWmiPayloadSize)
            pbPayload[change.first] = change.second;
}
