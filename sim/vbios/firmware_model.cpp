#include "firmware_model.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr uint8_t kFnFlsh = 0, kFnFini = 1, kFnFers = 2, kFnFebw = 4, kFnFebr = 5, kFnFedw = 6,
                  kFnEcsr = 7, kFnFlsc = 8, kFnOemData = 0x81;
constexpr uint32_t kInterfaceVer20 = 0x501;
constexpr size_t kReplyRecordAt = 64;
constexpr size_t kErrorInfoAt = 96;
constexpr char kPowerText[] = "AC power is not safe for flashing$";
constexpr size_t kPasswordLimit = 255;

void Put32(uint8_t* p, uint32_t dw)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(dw >> (8 * i));
}

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

void FirmwareRecorder::Add(uint32_t dwKind, uint32_t a, uint32_t b, uint32_t c, uint32_t d,
                           uint32_t e, uint32_t f, const uint8_t* pPayload, size_t cbPayload)
{
    VbEvent ev = {};
    ev.dwKind = dwKind;
    ev.dwA = a;
    ev.dwB = b;
    ev.dwC = c;
    ev.dwD = d;
    ev.dwE = e;
    ev.dwF = f;
    if (pPayload)
    {
        ev.cbPayload = static_cast<uint32_t>(std::min<size_t>(cbPayload, VB_PAYLOAD_SNAPSHOT));
        memcpy(ev.abPayload, pPayload, ev.cbPayload);
    }
    m_events.push_back(ev);
}

void FirmwareModel::Reset()
{
    m_recorder.Clear();
    m_blocks.clear();
    const uint32_t aSizes[] = {4096, 1024, 16};
    for (uint32_t n = 0; n < 3; ++n)
    {
        std::vector<uint8_t> data(aSizes[n]);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 7 + n * 31);
        SetBlock(n, data.data(), data.size(), 0);
    }
    m_finiPatches.clear();
    m_oemStore.clear();
    m_pendingWrite.clear();
    m_blPending = false;
    m_strPassword.clear();
    m_blSession = false;
    m_blFiniDone = false;
    m_blPasswordVerified = false;
    m_dwFiniAddress = 0;
    m_nFailedPasswords = 0;
    m_nOemSetting = 0;
    m_nPowerSafe = 1;
    m_nFiniResult = -1;
    m_nReplySignature = -1;
    m_nAutoReplyRecord = 1;
    m_nFlshResult = -1;
    m_nEcsrResult = -1;
    m_nFlsc0Result = -1;
    m_nFlsc1Result = -1;
    m_nFebwResult = -1;
    m_nFedwResult = -1;
    m_nNeverAnswerFn = -1;
    m_nPasswordMax = 16;
}

bool FirmwareModel::SetKnob(uint32_t dwKnob, int32_t nValue)
{
    switch (dwKnob)
    {
        case VBK_POWER_SAFE:
            m_nPowerSafe = nValue;
            return true;
        case VBK_FINI_RESULT:
            m_nFiniResult = nValue;
            return true;
        case VBK_REPLY_SIGNATURE:
            m_nReplySignature = nValue;
            return true;
        case VBK_AUTO_REPLY_RECORD:
            m_nAutoReplyRecord = nValue;
            return true;
        case VBK_FLSH_RESULT:
            m_nFlshResult = nValue;
            return true;
        case VBK_ECSR_RESULT:
            m_nEcsrResult = nValue;
            return true;
        case VBK_FLSC0_RESULT:
            m_nFlsc0Result = nValue;
            return true;
        case VBK_FLSC1_RESULT:
            m_nFlsc1Result = nValue;
            return true;
        case VBK_FEBW_RESULT:
            m_nFebwResult = nValue;
            return true;
        case VBK_FEDW_RESULT:
            m_nFedwResult = nValue;
            return true;
        case VBK_NEVER_ANSWER_FN:
            m_nNeverAnswerFn = nValue;
            return true;
        case VBK_PASSWORD_MAX:
            m_nPasswordMax = nValue;
            return true;
        default:
            return false;
    }
}

bool FirmwareModel::GetKnob(uint32_t dwKnob, int32_t* pnValue) const
{
    switch (dwKnob)
    {
        case VBK_POWER_SAFE:
            *pnValue = m_nPowerSafe;
            return true;
        case VBK_FAILED_PASSWORDS:
            *pnValue = m_nFailedPasswords;
            return true;
        case VBK_OEM_SETTING:
            *pnValue = m_nOemSetting;
            return true;
        case VBK_PASSWORD_MAX:
            *pnValue = m_nPasswordMax;
            return true;
        default:
            return false;
    }
}

void FirmwareModel::SetBlock(uint32_t dwBlock, const uint8_t* pData, size_t cbData,
                             uint32_t dwReportedSize)
{
    FlashBlock block;
    block.data.assign(pData, pData + cbData);
    block.dwReportedSize = dwReportedSize ? dwReportedSize : static_cast<uint32_t>(cbData);
    m_blocks[dwBlock] = block;
}

bool FirmwareModel::GetBlock(uint32_t dwBlock, std::vector<uint8_t>* pData) const
{
    auto it = m_blocks.find(dwBlock);
    if (it == m_blocks.end())
        return false;
    *pData = it->second.data;
    return true;
}

void FirmwareModel::SetPassword(const char* pszPassword)
{
    m_strPassword = pszPassword ? pszPassword : "";
    m_nFailedPasswords = 0;
    m_blPasswordVerified = false;
}

void FirmwareModel::AddFiniPatch(uint32_t dwOffset, const uint8_t* pData, size_t cbData)
{
    m_finiPatches.push_back({dwOffset, std::vector<uint8_t>(pData, pData + cbData)});
}

FirmwareReply FirmwareModel::Handle(const FirmwareRequest& request, const PayloadResolver& resolve)
{
    FirmwareReply reply = {};
    const uint8_t bFn = request.bFunction;
    const uint8_t bKind = static_cast<uint8_t>(request.wParam);

    // The buffer this request works on, as the firmware would find it.
    uint8_t* pPayload = nullptr;
    if (bFn == kFnFini || (bFn == kFnOemData && (bKind == 2 || bKind == 3)))
        pPayload = resolve(request.dwParam);
    else if (m_blFiniDone && (bFn == kFnFebw || bFn == kFnFebr || bFn == kFnFlsc))
        pPayload = resolve(m_dwFiniAddress);

    m_recorder.Add(VBEV_CALL, bFn, request.wParam, request.dwParam, request.dwLength, VB_NO_ANSWER,
                   0, pPayload, pPayload ? kModelPayloadSize : 0);
    if (m_nNeverAnswerFn == 0x100 || m_nNeverAnswerFn == bFn)
        return reply;
    VbEvent& call = m_recorder.Last();

    reply.blAnswered = true;
    switch (bFn)
    {
        case kFnFlsh:
            if (request.wParam == 0)
                m_blSession = true;
            else
            {
                m_blSession = false;
                m_blFiniDone = false;
                m_blPasswordVerified = false;
                m_blPending = false;
            }
            reply.wResult = Override(m_nFlshResult, 0);
            break;
        case kFnFini:
            reply.wResult = Fini(request.dwParam, pPayload);
            break;
        case kFnFers:
        {
            auto it = m_blocks.find(request.dwParam);
            if (it == m_blocks.end())
                reply.wResult = 0xFFFF;
            else
                std::fill(it->second.data.begin(), it->second.data.end(), 0xFF);
            break;
        }
        case kFnFebw:
        {
            auto it = m_blocks.find(request.dwParam);
            bool blLocked = !m_strPassword.empty() && !m_blPasswordVerified;
            uint16_t wNatural = 0;
            if (m_blFiniDone && pPayload && it != m_blocks.end() && !blLocked)
            {
                size_t cb = std::min(it->second.data.size(), kModelPayloadSize);
                m_pendingWrite.assign(pPayload, pPayload + cb);
                m_dwPendingBlock = request.dwParam;
                m_blPending = true;
                wNatural = 1;
            }
            reply.wResult = Override(m_nFebwResult, wNatural);
            break;
        }
        case kFnFebr:
        {
            auto it = m_blocks.find(request.dwParam);
            if (it == m_blocks.end() || !pPayload)
                reply.wResult = 0xFFFF;
            else
            {
                size_t cb = std::min(it->second.data.size(), kModelPayloadSize);
                memcpy(pPayload, it->second.data.data(), cb);
                reply.wResult = static_cast<uint16_t>(it->second.dwReportedSize);
            }
            break;
        }
        case kFnFedw:
        {
            uint16_t wNatural = 1;
            if (m_nFedwResult < 0 && m_blPending)
            {
                auto it = m_blocks.find(m_dwPendingBlock);
                if (it != m_blocks.end())
                {
                    std::copy(m_pendingWrite.begin(), m_pendingWrite.end(),
                              it->second.data.begin());
                    wNatural = 0;
                }
                m_blPending = false;
            }
            reply.wResult = Override(m_nFedwResult, wNatural);
            break;
        }
        case kFnEcsr:
            reply.wResult = Override(m_nEcsrResult, 0);
            break;
        case kFnFlsc:
            if (request.wParam == 0)
            {
                uint16_t wNatural =
                    m_strPassword.empty()
                        ? 0
                        : static_cast<uint16_t>(0x8000 |
                                                (static_cast<uint32_t>(m_nPasswordMax) & 0xFF));
                reply.wResult = Override(m_nFlsc0Result, wNatural);
            }
            else
                reply.wResult = m_nFlsc1Result >= 0 ? static_cast<uint16_t>(m_nFlsc1Result)
                                                    : CheckPassword(pPayload);
            break;
        case kFnOemData:
            reply.wResult = OemFunction(request, resolve, &reply);
            break;
        default:
            reply.wResult = kResultUnsupported;
            break;
    }
    call.dwE = reply.wResult;
    return reply;
}

uint16_t FirmwareModel::Fini(uint32_t dwAddress, uint8_t* pPayload)
{
    if (!pPayload)
        return Override(m_nFiniResult, 3);
    if (!m_blSession)
        return Override(m_nFiniResult, 5); // FLSH 0 must come first
    m_dwFiniAddress = dwAddress;
    m_blFiniDone = true;
    m_blPasswordVerified = false;

    const bool blHeaderOk =
        memcmp(pPayload, "_FT_", 4) == 0 && pPayload[4] == 32 && pPayload[5] == 0;
    const bool blVer20 = Get32(pPayload + 8) == kInterfaceVer20;
    const bool blPowerSafe = m_nPowerSafe != 0;
    uint16_t wNatural = 0;
    if (!blHeaderOk)
        wNatural = 2;
    else if (!blPowerSafe && !blVer20)
        wNatural = 4;
    const uint16_t wResult = Override(m_nFiniResult, wNatural);

    const bool blSignature =
        m_nReplySignature < 0 ? (blHeaderOk && !blVer20 && wNatural == 0) : m_nReplySignature != 0;
    if (blSignature)
        memcpy(pPayload + 32, "_$$_", 4);

    const bool blWantPassword = !m_strPassword.empty();
    if (m_nAutoReplyRecord && blHeaderOk && (blWantPassword || !blPowerSafe))
    {
        uint8_t* pRecord = pPayload + kReplyRecordAt;
        Put32(pRecord, 0x46494E49);
        pRecord[4] = blWantPassword ? 1 : 0;
        Put32(pRecord + 5, blPowerSafe ? 0 : static_cast<uint32_t>(kErrorInfoAt));
        if (!blPowerSafe)
        {
            Put32(pPayload + kErrorInfoAt, 1);
            memcpy(pPayload + kErrorInfoAt + 4, kPowerText, sizeof(kPowerText) - 1);
        }
    }
    for (const Patch& patch : m_finiPatches)
    {
        if (patch.dwOffset >= kModelPayloadSize)
            continue;
        size_t cb = std::min(patch.bytes.size(), kModelPayloadSize - patch.dwOffset);
        memcpy(pPayload + patch.dwOffset, patch.bytes.data(), cb);
    }
    return wResult;
}

uint16_t FirmwareModel::CheckPassword(const uint8_t* pPayload)
{
    if (m_nFailedPasswords >= 3)
        return 2;
    std::string strSent;
    if (pPayload && pPayload[0] == 0)
        for (size_t i = 1; i <= kPasswordLimit + 1 && pPayload[i]; ++i)
            strSent += static_cast<char>(pPayload[i]);
    std::string strExpected = m_strPassword.substr(0, static_cast<size_t>(m_nPasswordMax & 0xFF));
    if (pPayload && pPayload[0] == 0 && strSent == strExpected)
    {
        m_blPasswordVerified = true;
        return 0;
    }
    ++m_nFailedPasswords;
    return static_cast<uint16_t>(1 | (m_nFailedPasswords >= 3 ? 2 : 0));
}

uint16_t FirmwareModel::OemFunction(const FirmwareRequest& request, const PayloadResolver& resolve,
                                    FirmwareReply* pReply)
{
    const uint8_t bKind = static_cast<uint8_t>(request.wParam);
    const uint16_t wLength = static_cast<uint16_t>(request.dwLength);
    switch (bKind)
    {
        case 0:
            pReply->blOutParams = true;
            pReply->dwOutParam = static_cast<uint32_t>(m_oemStore.size());
            pReply->wOutLength = 1;
            return 0;
        case 1:
            m_nOemSetting = wLength;
            return 0;
        case 2:
        case 3:
        {
            uint8_t* pPayload = resolve(request.dwParam);
            if (!pPayload)
                return 3;
            size_t cb = std::min<size_t>(wLength, kModelPayloadSize);
            if (bKind == 2)
                m_oemStore.assign(pPayload, pPayload + cb);
            else
                memcpy(pPayload, m_oemStore.data(), std::min(cb, m_oemStore.size()));
            return 0;
        }
        default:
            return kResultUnsupported;
    }
}
