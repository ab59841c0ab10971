// The virtual BIOS's firmware: flash blocks, the FINI handshake, power and
// password state, the OEM data store, the function semantics and the faults
// on demand. It knows nothing of the way a request arrives (SMI mailbox, WMI
// buffers): each face turns its transport into a FirmwareRequest and gives
// the model a way to reach the transfer buffer that a request names.
//
// Function semantics, by function number:
//   0 FLSH   word 0 opens a flash session, 1 closes it (forgets the FINI
//            buffer, the verified password and a pending write). Result 0.
//   1 FINI   dword = the transfer buffer. Reads the request header there
//            ("_FT_", length 32; interface 0x501 = revision 0x20). Result 0,
//            or 4 for a legacy header while power is not safe, 2 for a bad
//            header, 3 when the buffer cannot be reached, 5 outside a session. After a legacy
//            header that succeeded it writes "_$$_" at offset 32. When a
//            password is installed or power is not safe it leaves a reply
//            record at offset 64 (flag bit 0: password wanted) with error info
//            at offset 96 (reason 1, power not safe).
//   2 FERS   erases block dword to 0xFF. Result 0, 0xFFFF for no block.
//   4 FEBW   takes the block dword from the buffer as a pending write.
//            Result 1; 0 (refused) without FINI, for a missing block or while
//            an installed password is not verified.
//   5 FEBR   places block dword in the buffer (at most 4096 bytes) and
//            returns its size; 0xFFFF for a missing block.
//   6 FEDW   commits the pending write to the flash. Result 0; 1 when
//            nothing is pending.
//   7 ECSR   result 0.
//   8 FLSC   word 0: 0x8000 | maximum length when a password is installed,
//            else 0. Word 1: checks the password block (0, text, 0) in the
//            buffer; 0 accepted; else bit 0 failed, bit 1 over 3 failures
//            (after three failures every check answers 2).
//   0x81     OEM data, kind in the word: 0 query (dword out: store size,
//            length out: format byte 1), 1 set (length = 16-bit setting),
//            2 write (length bytes from the buffer at dword into the store),
//            3 read (store into the buffer, at most length bytes), other
//            kinds answer 0xFFFE.
//   other    0xFFFE (not supported).
#pragma once

#include "vbios_control.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct FirmwareRequest
{
    uint8_t bFunction;
    uint16_t wParam;
    uint32_t dwParam;
    uint32_t dwLength;
};

struct FirmwareReply
{
    bool blAnswered; // false: the firmware never completes this call
    uint16_t wResult;
    bool blOutParams; // the OEM query also returns dwOutParam and wOutLength
    uint32_t dwOutParam;
    uint16_t wOutLength;
};

constexpr size_t kModelPayloadSize = 4096;
constexpr uint16_t kResultUnsupported = 0xFFFE;

// Gives the 4096-byte transfer buffer at an address the firmware was handed,
// or null when nothing is there.
using PayloadResolver = std::function<uint8_t*(uint32_t dwAddress)>;

class FirmwareRecorder
{
public:
    void Add(uint32_t dwKind, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0,
             uint32_t e = 0, uint32_t f = 0, const uint8_t* pPayload = nullptr,
             size_t cbPayload = 0);
    void Clear() { m_events.clear(); }
    const std::vector<VbEvent>& Events() const { return m_events; }
    VbEvent& Last() { return m_events.back(); }

private:
    std::vector<VbEvent> m_events;
};

class FirmwareModel
{
public:
    FirmwareModel() { Reset(); }

    // Factory state: blocks 0 (4096 bytes), 1 (1024) and 2 (16) with known
    // contents, no password, power safe, empty OEM store, no faults.
    void Reset();

    FirmwareReply Handle(const FirmwareRequest& request, const PayloadResolver& resolve);

    // Knobs of the model; false for a knob that is not the model's.
    bool SetKnob(uint32_t dwKnob, int32_t nValue);
    bool GetKnob(uint32_t dwKnob, int32_t* pnValue) const;

    void SetBlock(uint32_t dwBlock, const uint8_t* pData, size_t cbData, uint32_t dwReportedSize);
    void RemoveBlock(uint32_t dwBlock) { m_blocks.erase(dwBlock); }
    // The block's bytes; false when there is no such block.
    bool GetBlock(uint32_t dwBlock, std::vector<uint8_t>* pData) const;
    void SetPassword(const char* pszPassword);
    void AddFiniPatch(uint32_t dwOffset, const uint8_t* pData, size_t cbData);
    void SetOemData(const uint8_t* pData, size_t cbData)
    {
        m_oemStore.assign(pData, pData + cbData);
    }
    const std::vector<uint8_t>& OemData() const { return m_oemStore; }

    FirmwareRecorder& Recorder() { return m_recorder; }

private:
    struct FlashBlock
    {
        std::vector<uint8_t> data;
        uint32_t dwReportedSize;
    };
    struct Patch
    {
        uint32_t dwOffset;
        std::vector<uint8_t> bytes;
    };

    uint16_t Fini(uint32_t dwAddress, uint8_t* pPayload);
    uint16_t CheckPassword(const uint8_t* pPayload);
    uint16_t OemFunction(const FirmwareRequest& request, const PayloadResolver& resolve,
                         FirmwareReply* pReply);
    static uint16_t Override(int32_t nKnob, uint16_t wNatural)
    {
        return nKnob < 0 ? wNatural : static_cast<uint16_t>(nKnob);
    }

    FirmwareRecorder m_recorder;
    std::map<uint32_t, FlashBlock> m_blocks;
    std::vector<Patch> m_finiPatches;
    std::vector<uint8_t> m_oemStore;
    std::vector<uint8_t> m_pendingWrite;
    uint32_t m_dwPendingBlock = 0;
    bool m_blPending = false;
    std::string m_strPassword;
    bool m_blSession = false;
    bool m_blFiniDone = false;
    bool m_blPasswordVerified = false;
    uint32_t m_dwFiniAddress = 0;
    int32_t m_nFailedPasswords = 0;
    int32_t m_nOemSetting = 0;

    // Knobs.
    int32_t m_nPowerSafe = 1;
    int32_t m_nFiniResult = -1;
    int32_t m_nReplySignature = -1;
    int32_t m_nAutoReplyRecord = 1;
    int32_t m_nFlshResult = -1;
    int32_t m_nEcsrResult = -1;
    int32_t m_nFlsc0Result = -1;
    int32_t m_nFlsc1Result = -1;
    int32_t m_nFebwResult = -1;
    int32_t m_nFedwResult = -1;
    int32_t m_nNeverAnswerFn = -1;
    int32_t m_nPasswordMax = 16;
};
