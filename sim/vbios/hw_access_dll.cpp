// The virtual BIOS's hardware access face: a simulated machine behind the
// entry points an EDABBlock owner loads. Physical memory holds the F000h
// segment (with the EXTF structure and the mailbox descriptor), the flash
// SMI mailbox and the transfer buffers handed out by AllocPhysBuf; a write of
// the SMI command byte to the SMI port runs the firmware's handler.
// Built from the owners' header: an entry point whose type or calling
// convention drifts from the contract does not compile.
#define HW_ACCESS_LIB_EXPORTS
#include "access/hw_access_lib.h"

#include "firmware_model.h"
#include "vbios_control.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace
{

constexpr uint32_t kSegmentPhys = 0xF0000;
constexpr uint32_t kSegmentSize = 0x10000;
constexpr uint32_t kMailboxSize = 0x100;
constexpr uint32_t kFirstBufferPhys = 0x3F000000;
constexpr uint32_t kBufferStride = 0x2000; // never reused, so stale addresses reach nothing
constexpr uint8_t kUnusedFill = 0xA5;      // fresh buffers are not zeroed

struct PhysBuffer
{
    uint8_t* pBuf;
    uint32_t dwSize;
    uint32_t dwPhys;
};

struct Machine
{
    FirmwareModel model;
    uint8_t* pSegment = nullptr; // followed by an inaccessible page
    uint8_t abMailbox[kMailboxSize] = {};
    VbLayout layout = {};
    std::map<uintptr_t, PhysBuffer> buffers; // by handle
    std::map<uintptr_t, uint32_t> mappings;  // handle -> physical address
    uintptr_t nextHandle = 0x100;
    uint32_t dwNextPhys = kFirstBufferPhys;
    int32_t nBusyReads = 0;
    int32_t nStuckField = -1;
    int32_t nStuckAfterSmis = 0;
    int32_t nMapFails = 0;
    int32_t nAllocFails = 0;
    int32_t nFreeFails = 0;
    int32_t nFstaReads = 0;
    int32_t nSmiCount = 0;
    // A slow firmware: the reply reaches the mailbox only at the
    // nPendingReads-th read of FSTA after the SMI.
    int32_t nPendingReads = 0;
    FirmwareReply pendingReply = {};
};

Machine* g_pMachine = nullptr;

FirmwareRecorder& Rec()
{
    return g_pMachine->model.Recorder();
}

const VbLayout kDefaultLayout = {0x1230, 0x10, 0x2000, 0x7FF00000, 0xB2,
                                 0xE5,   0x05, 0x09,   0x02,       0x00};

uint32_t FieldOffset(int nField)
{
    const VbLayout& l = g_pMachine->layout;
    switch (nField)
    {
        case VBF_FSFN:
            return l.bOffsetFSFN;
        case VBF_FSTA:
            return l.bOffsetFSTA;
        case VBF_FADR:
            return l.bOffsetFADR;
        default:
            return l.bOffsetFSIZ;
    }
}

int FieldAt(uint32_t dwOffset)
{
    for (int n = VBF_FSFN; n <= VBF_FSIZ; ++n)
        if (FieldOffset(n) == dwOffset)
            return n;
    return VBF_OTHER;
}

void FillSegment()
{
    // Something like BIOS code: no accidental signatures.
    for (uint32_t i = 0; i < kSegmentSize; ++i)
        g_pMachine->pSegment[i] = static_cast<uint8_t>(0x90 ^ (i * 13));
}

void WriteLayout(const VbLayout& l)
{
    Machine& m = *g_pMachine;
    m.layout = l;
    FillSegment();
    uint8_t abExtf[18] = {'E',
                          'X',
                          'T',
                          'F',
                          0x11,
                          0x22,
                          0x33,
                          static_cast<uint8_t>(l.bExtfVersion),
                          static_cast<uint8_t>(l.wDescriptorOffset),
                          static_cast<uint8_t>(l.wDescriptorOffset >> 8),
                          0x61,
                          0x62,
                          0x63,
                          0x64,
                          0x65,
                          0x66,
                          0x67,
                          0x68};
    if (l.dwExtfOffset < kSegmentSize)
        memcpy(m.pSegment + l.dwExtfOffset, abExtf,
               std::min<size_t>(sizeof(abExtf), kSegmentSize - l.dwExtfOffset));
    uint8_t abDesc[13] = {static_cast<uint8_t>(l.dwTableAddr),
                          static_cast<uint8_t>(l.dwTableAddr >> 8),
                          static_cast<uint8_t>(l.dwTableAddr >> 16),
                          static_cast<uint8_t>(l.dwTableAddr >> 24),
                          static_cast<uint8_t>(l.wSmiPort),
                          static_cast<uint8_t>(l.wSmiPort >> 8),
                          static_cast<uint8_t>(l.bSmiCommand),
                          0x5A,
                          0xA5,
                          static_cast<uint8_t>(l.bOffsetFADR),
                          static_cast<uint8_t>(l.bOffsetFSIZ),
                          static_cast<uint8_t>(l.bOffsetFSTA),
                          static_cast<uint8_t>(l.bOffsetFSFN)};
    if (l.wDescriptorOffset < kSegmentSize)
        memcpy(m.pSegment + l.wDescriptorOffset, abDesc,
               std::min<size_t>(sizeof(abDesc), kSegmentSize - l.wDescriptorOffset));
    memset(m.abMailbox, 0, sizeof(m.abMailbox));
}

// The bytes behind [dwAddr, dwAddr + cb), or null when they are not all in
// one region of the machine.
uint8_t* Resolve(uint64_t qwAddr, uint64_t cb)
{
    Machine& m = *g_pMachine;
    if (qwAddr >= kSegmentPhys && qwAddr + cb <= uint64_t(kSegmentPhys) + kSegmentSize)
        return m.pSegment + (qwAddr - kSegmentPhys);
    if (qwAddr >= m.layout.dwTableAddr &&
        qwAddr + cb <= uint64_t(m.layout.dwTableAddr) + kMailboxSize)
        return m.abMailbox + (qwAddr - m.layout.dwTableAddr);
    for (auto& entry : m.buffers)
    {
        const PhysBuffer& b = entry.second;
        if (qwAddr >= b.dwPhys && qwAddr + cb <= uint64_t(b.dwPhys) + b.dwSize)
            return b.pBuf + (qwAddr - b.dwPhys);
    }
    return nullptr;
}

uint32_t ReadMailbox(int nField, int cb)
{
    uint32_t dw = 0;
    uint32_t dwOffset = FieldOffset(nField);
    for (int i = 0; i < cb && dwOffset + i < kMailboxSize; ++i)
        dw |= static_cast<uint32_t>(g_pMachine->abMailbox[dwOffset + i]) << (8 * i);
    return dw;
}

void WriteMailbox(int nField, int cb, uint32_t dwValue)
{
    uint32_t dwOffset = FieldOffset(nField);
    for (int i = 0; i < cb && dwOffset + i < kMailboxSize; ++i)
        g_pMachine->abMailbox[dwOffset + i] = static_cast<uint8_t>(dwValue >> (8 * i));
}

// The firmware's answer as it lands in the mailbox.
void PostReply(const FirmwareReply& reply)
{
    if (reply.blOutParams)
    {
        WriteMailbox(VBF_FADR, 4, reply.dwOutParam);
        WriteMailbox(VBF_FSIZ, 2, reply.wOutLength);
    }
    WriteMailbox(VBF_FSTA, 2, reply.wResult);
}

uint64_t MemRead(uint64_t qwAddr, int cb)
{
    Machine& m = *g_pMachine;
    if (qwAddr == uint64_t(m.layout.dwTableAddr) + m.layout.bOffsetFSTA && cb == 2)
    {
        ++m.nFstaReads;
        if (m.nPendingReads > 0 && --m.nPendingReads == 0)
            PostReply(m.pendingReply);
    }
    const uint8_t* p = Resolve(qwAddr, cb);
    if (!p)
        return 0xFFFFFFFFu >> (32 - 8 * cb); // nothing there: the bus floats high
    uint64_t qw = 0;
    for (int i = 0; i < cb; ++i)
        qw |= static_cast<uint64_t>(p[i]) << (8 * i);
    return qw;
}

void MemWrite(uint64_t qwAddr, int cb, uint32_t dwValue)
{
    Machine& m = *g_pMachine;
    uint8_t* p = Resolve(qwAddr, cb);
    if (!p)
    {
        Rec().Add(VBEV_MEM_WRITE, static_cast<uint32_t>(qwAddr), cb, dwValue);
        return;
    }
    uint32_t dwStored = dwValue;
    if (p >= m.abMailbox && p < m.abMailbox + kMailboxSize)
    {
        uint32_t dwOffset = static_cast<uint32_t>(p - m.abMailbox);
        int nField = FieldAt(dwOffset);
        Rec().Add(VBEV_MAILBOX_WRITE, nField, cb, dwValue, dwOffset);
        if (nField != VBF_OTHER && nField == m.nStuckField && m.nSmiCount >= m.nStuckAfterSmis)
            dwStored ^= 1; // a broken line: bit 0 never keeps what is written
    }
    for (int i = 0; i < cb; ++i)
        p[i] = static_cast<uint8_t>(dwStored >> (8 * i));
}

void RaiseSmi(uint8_t bCommand)
{
    Machine& m = *g_pMachine;
    ++m.nSmiCount;
    FirmwareRequest request;
    request.bFunction = static_cast<uint8_t>(ReadMailbox(VBF_FSFN, 1));
    request.wParam = static_cast<uint16_t>(ReadMailbox(VBF_FSTA, 2));
    request.dwParam = ReadMailbox(VBF_FADR, 4);
    request.dwLength = ReadMailbox(VBF_FSIZ, 2);
    Rec().Add(VBEV_SMI, m.layout.wSmiPort, bCommand, request.bFunction);

    // The firmware reaches a transfer buffer by its physical address.
    PayloadResolver resolve = [](uint32_t dwAddr) -> uint8_t*
    { return Resolve(dwAddr, kModelPayloadSize); };
    FirmwareReply reply = m.model.Handle(request, resolve);
    if (!reply.blAnswered)
        return; // the mailbox stays as the caller left it
    if (m.nBusyReads > 0)
    {
        m.nPendingReads = m.nBusyReads;
        m.pendingReply = reply;
    }
    else
        PostReply(reply);
}

void ResetMachine()
{
    Machine& m = *g_pMachine;
    m.model.Reset();
    for (auto& entry : m.buffers)
        GlobalFree(entry.second.pBuf);
    m.buffers.clear();
    m.mappings.clear();
    m.nBusyReads = 0;
    m.nStuckField = -1;
    m.nStuckAfterSmis = 0;
    m.nMapFails = m.nAllocFails = m.nFreeFails = 0;
    m.nFstaReads = 0;
    m.nSmiCount = 0;
    m.nPendingReads = 0;
    WriteLayout(kDefaultLayout);
    m.model.Recorder().Clear();
}

} // namespace

extern "C"
{

    // ---- Hardware access entry points ----

    BOOL WINAPI IoWriteByte(WORD wPort, BYTE bValue)
    {
        Machine& m = *g_pMachine;
        if (wPort == m.layout.wSmiPort && bValue == m.layout.bSmiCommand)
            RaiseSmi(bValue);
        else
            Rec().Add(VBEV_IO_WRITE, wPort, bValue);
        return TRUE;
    }

    BYTE WINAPI MemReadByte(DWORD64 qwAddr)
    {
        return static_cast<BYTE>(MemRead(qwAddr, 1));
    }
    WORD WINAPI MemReadWord(DWORD64 qwAddr)
    {
        return static_cast<WORD>(MemRead(qwAddr, 2));
    }
    DWORD WINAPI MemReadDword(DWORD64 qwAddr)
    {
        return static_cast<DWORD>(MemRead(qwAddr, 4));
    }

    BOOL WINAPI MemWriteByte(DWORD64 qwAddr, BYTE bValue)
    {
        MemWrite(qwAddr, 1, bValue);
        return TRUE;
    }

    BOOL WINAPI MemWriteWord(DWORD64 qwAddr, WORD wValue)
    {
        MemWrite(qwAddr, 2, wValue);
        return TRUE;
    }

    BOOL WINAPI MemWriteDword(DWORD64 qwAddr, DWORD dwValue)
    {
        MemWrite(qwAddr, 4, dwValue);
        return TRUE;
    }

    PVOID WINAPI MapPhysMem(DWORD dwPhysAddr, DWORD dwLength, HANDLE* phMapping)
    {
        Machine& m = *g_pMachine;
        uint8_t* p = m.nMapFails ? nullptr : Resolve(dwPhysAddr, dwLength);
        Rec().Add(VBEV_MAP, dwPhysAddr, dwLength, p ? 1 : 0);
        if (!p)
            return nullptr;
        uintptr_t h = m.nextHandle++;
        m.mappings[h] = dwPhysAddr;
        *phMapping = reinterpret_cast<HANDLE>(h);
        return p;
    }

    BOOL WINAPI UnmapPhysMem(HANDLE hMapping)
    {
        Machine& m = *g_pMachine;
        bool blKnown = m.mappings.erase(reinterpret_cast<uintptr_t>(hMapping)) != 0;
        Rec().Add(VBEV_UNMAP, blKnown ? 1 : 0);
        return blKnown;
    }

    PVOID WINAPI AllocPhysBuf(DWORD dwSize, DWORD dwArg1, DWORD dwArg2, DWORD dwArg3, DWORD dwArg4,
                              HANDLE* phBuffer, DWORD* pdwPhysAddr, DWORD* pdwExtra)
    {
        Machine& m = *g_pMachine;
        // Fixed global memory: GlobalLock on the pointer gives the same address.
        uint8_t* p =
            m.nAllocFails ? nullptr : static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, dwSize));
        uint32_t dwPhys = p ? m.dwNextPhys : 0;
        Rec().Add(VBEV_ALLOC, dwPhys, dwSize, dwArg1, dwArg2, dwArg3, dwArg4);
        if (!p)
            return nullptr;
        memset(p, kUnusedFill, dwSize);
        m.dwNextPhys += kBufferStride;
        uintptr_t h = m.nextHandle++;
        m.buffers[h] = {p, dwSize, dwPhys};
        *phBuffer = reinterpret_cast<HANDLE>(h);
        *pdwPhysAddr = dwPhys;
        *pdwExtra = 0x5EED; // meaningless to the caller
        return p;
    }

    BOOL WINAPI FreePhysBuf(HANDLE hBuffer)
    {
        Machine& m = *g_pMachine;
        auto it = m.buffers.find(reinterpret_cast<uintptr_t>(hBuffer));
        if (it == m.buffers.end() || m.nFreeFails)
        {
            Rec().Add(VBEV_FREE, it == m.buffers.end() ? 0 : it->second.dwPhys, 0);
            return FALSE;
        }
        Rec().Add(VBEV_FREE, it->second.dwPhys, 1);
        GlobalFree(it->second.pBuf);
        m.buffers.erase(it);
        return TRUE;
    }

    // ---- Control entry points for tests ----

    void WINAPI VbReset(void)
    {
        ResetMachine();
    }

    void WINAPI VbSetKnob(uint32_t dwKnob, int32_t nValue)
    {
        Machine& m = *g_pMachine;
        if (m.model.SetKnob(dwKnob, nValue))
            return;
        switch (dwKnob)
        {
            case VBK_BUSY_READS:
                m.nBusyReads = nValue;
                break;
            case VBK_STUCK_FIELD:
                m.nStuckField = nValue;
                break;
            case VBK_STUCK_AFTER_SMIS:
                m.nStuckAfterSmis = nValue;
                break;
            case VBK_MAP_FAILS:
                m.nMapFails = nValue;
                break;
            case VBK_ALLOC_FAILS:
                m.nAllocFails = nValue;
                break;
            case VBK_FREE_FAILS:
                m.nFreeFails = nValue;
                break;
            default:
                break;
        }
    }

    int32_t WINAPI VbGetKnob(uint32_t dwKnob)
    {
        Machine& m = *g_pMachine;
        int32_t nValue = 0;
        if (m.model.GetKnob(dwKnob, &nValue))
            return nValue;
        switch (dwKnob)
        {
            case VBK_FSTA_READS:
                return m.nFstaReads;
            case VBK_OUTSTANDING_BUFFERS:
                return static_cast<int32_t>(m.buffers.size());
            case VBK_OUTSTANDING_MAPPINGS:
                return static_cast<int32_t>(m.mappings.size());
            case VBK_SMI_COUNT:
                return m.nSmiCount;
            default:
                return -1;
        }
    }

    void WINAPI VbSetLayout(const VbLayout* pLayout)
    {
        WriteLayout(*pLayout);
    }
    void WINAPI VbGetLayout(VbLayout* pLayout)
    {
        *pLayout = g_pMachine->layout;
    }

    void WINAPI VbWriteSegment(uint32_t dwOffset, const uint8_t* pData, uint32_t cbData)
    {
        if (dwOffset < kSegmentSize)
            memcpy(g_pMachine->pSegment + dwOffset, pData,
                   std::min<size_t>(cbData, kSegmentSize - dwOffset));
    }

    void WINAPI VbSetBlock(uint32_t dwBlock, const uint8_t* pData, uint32_t cbData,
                           uint32_t dwReportedSize)
    {
        g_pMachine->model.SetBlock(dwBlock, pData, cbData, dwReportedSize);
    }

    void WINAPI VbRemoveBlock(uint32_t dwBlock)
    {
        g_pMachine->model.RemoveBlock(dwBlock);
    }

    uint32_t WINAPI VbGetBlock(uint32_t dwBlock, uint8_t* pData, uint32_t cbData)
    {
        std::vector<uint8_t> data;
        if (!g_pMachine->model.GetBlock(dwBlock, &data))
            return 0xFFFFFFFF;
        memcpy(pData, data.data(), std::min<size_t>(cbData, data.size()));
        return static_cast<uint32_t>(data.size());
    }

    void WINAPI VbSetPassword(const char* pszPassword)
    {
        g_pMachine->model.SetPassword(pszPassword);
    }

    void WINAPI VbAddFiniPatch(uint32_t dwOffset, const uint8_t* pData, uint32_t cbData)
    {
        g_pMachine->model.AddFiniPatch(dwOffset, pData, cbData);
    }

    void WINAPI VbSetOemData(const uint8_t* pData, uint32_t cbData)
    {
        g_pMachine->model.SetOemData(pData, cbData);
    }

    uint32_t WINAPI VbGetOemData(uint8_t* pData, uint32_t cbData)
    {
        const std::vector<uint8_t>& store = g_pMachine->model.OemData();
        memcpy(pData, store.data(), std::min<size_t>(cbData, store.size()));
        return static_cast<uint32_t>(store.size());
    }

    uint32_t WINAPI VbEventCount(void)
    {
        return static_cast<uint32_t>(g_pMachine->model.Recorder().Events().size());
    }

    int WINAPI VbGetEvent(uint32_t dwIndex, VbEvent* pEvent)
    {
        const std::vector<VbEvent>& events = g_pMachine->model.Recorder().Events();
        if (dwIndex >= events.size())
            return 0;
        *pEvent = events[dwIndex];
        return 1;
    }

    void WINAPI VbClearEvents(void)
    {
        g_pMachine->model.Recorder().Clear();
    }

    BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID)
    {
        if (dwReason == DLL_PROCESS_ATTACH)
        {
            g_pMachine = new Machine;
            // The segment ends at an inaccessible page: a read past F000h:FFFF
            // faults instead of passing unnoticed.
            uint8_t* pRange = static_cast<uint8_t*>(
                VirtualAlloc(nullptr, kSegmentSize + 0x1000, MEM_RESERVE, PAGE_NOACCESS));
            if (!pRange || !VirtualAlloc(pRange, kSegmentSize, MEM_COMMIT, PAGE_READWRITE))
                return FALSE;
            g_pMachine->pSegment = pRange;
            ResetMachine();
        }
        else if (dwReason == DLL_PROCESS_DETACH && g_pMachine)
        {
            for (auto& entry : g_pMachine->buffers)
                GlobalFree(entry.second.pBuf);
            VirtualFree(g_pMachine->pSegment, 0, MEM_RELEASE);
            delete g_pMachine;
            g_pMachine = nullptr;
        }
        return TRUE;
    }

} // extern "C"
