// The setup items both bad-firmware tables share: what the firmware holds
// (blocks, the reply record and error info it leaves after FINI, password,
// OEM store, knobs of the firmware model) and the owner's members. Firmware
// is the firmware model itself or an adapter with the same five calls over
// the virtual BIOS's control exports.
#pragma once

#include "access/edab_block.h"
#include "sim/vbios/vbios_control.h"
#include "table_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// Knobs a row may name, without their VBK_ prefix.
inline const std::map<std::string, uint32_t>& FirmwareKnobs()
{
    static const std::map<std::string, uint32_t> knobs = {
        {"POWER_SAFE", VBK_POWER_SAFE},
        {"FINI_RESULT", VBK_FINI_RESULT},
        {"REPLY_SIGNATURE", VBK_REPLY_SIGNATURE},
        {"AUTO_REPLY_RECORD", VBK_AUTO_REPLY_RECORD},
        {"FLSC0_RESULT", VBK_FLSC0_RESULT},
        {"FLSC1_RESULT", VBK_FLSC1_RESULT},
        {"FEBW_RESULT", VBK_FEBW_RESULT},
        {"FEDW_RESULT", VBK_FEDW_RESULT},
        {"NEVER_ANSWER_FN", VBK_NEVER_ANSWER_FN},
        {"PASSWORD_MAX", VBK_PASSWORD_MAX},
        {"BUSY_READS", VBK_BUSY_READS},
        {"STUCK_FIELD", VBK_STUCK_FIELD},
        {"STUCK_AFTER_SMIS", VBK_STUCK_AFTER_SMIS},
    };
    return knobs;
}

inline void PutLe32(std::vector<uint8_t>& bytes, uint32_t dwValue)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(dwValue >> (8 * i)));
}

// A reply record as the firmware leaves it after FINI: "INIF", the flags and
// the offset of its error info.
inline std::vector<uint8_t> ReplyRecord(uint8_t bFlags, uint32_t dwInfoAt)
{
    std::vector<uint8_t> record = {0x49, 0x4E, 0x49, 0x46, bFlags};
    PutLe32(record, dwInfoAt);
    return record;
}

// Applies one "key=value" item; false when the key is not one of these.
// A malformed value fails the running test.
template <class Firmware>
bool ApplySharedSetupItem(const std::string& key, const std::string& value, Firmware& firmware,
                          EDABBlock& block)
{
    if (key == "block") // block=N:BYTES:REPORTED
    {
        const std::vector<std::string> p = SplitText(value, ':');
        EXPECT_EQ(3u, p.size()) << value;
        std::vector<uint8_t> data(TableNumber(p.at(1)));
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 11 + 3);
        firmware.SetBlock(TableNumber(p[0]), data.data(), static_cast<uint32_t>(data.size()),
                          TableNumber(p.at(2)));
    }
    else if (key == "record") // record=AT:FLAGS:INFO
    {
        const std::vector<std::string> p = SplitText(value, ':');
        EXPECT_EQ(3u, p.size()) << value;
        const std::vector<uint8_t> record =
            ReplyRecord(static_cast<uint8_t>(TableNumber(p.at(1))), TableNumber(p.at(2)));
        firmware.AddFiniPatch(TableNumber(p[0]), record.data(),
                              static_cast<uint32_t>(record.size()));
    }
    else if (key == "info") // info=AT:REASON:TEXT
    {
        const std::vector<std::string> p = SplitText(value, ':', 3);
        EXPECT_EQ(3u, p.size()) << value;
        std::vector<uint8_t> info;
        PutLe32(info, TableNumber(p.at(1)));
        const std::string strText = ExpandText(p.at(2));
        info.insert(info.end(), strText.begin(), strText.end());
        firmware.AddFiniPatch(TableNumber(p[0]), info.data(), static_cast<uint32_t>(info.size()));
    }
    else if (key == "password")
        firmware.SetPassword(ExpandText(value).c_str());
    else if (key == "ownerpw")
    {
        // fill80 leaves the field without a terminator.
        const std::string strPassword = ExpandText(value);
        memset(block.szPassword, 0, sizeof(block.szPassword));
        memcpy(block.szPassword, strPassword.data(),
               std::min(strPassword.size(), sizeof(block.szPassword)));
    }
    else if (key == "ncp")
        block.dwNoCheckPower = TableNumber(value);
    else if (key == "allowed")
        block.dwAllowedReason = TableNumber(value);
    else if (key == "ver20")
        block.blForceVer20 = TableNumber(value) != 0;
    else if (key == "oemstore")
    {
        std::vector<uint8_t> store(TableNumber(value));
        for (size_t i = 0; i < store.size(); ++i)
            store[i] = static_cast<uint8_t>(i * 13 + 1);
        firmware.SetOemData(store.data(), static_cast<uint32_t>(store.size()));
    }
    else
    {
        const auto it = FirmwareKnobs().find(key);
        if (it == FirmwareKnobs().end())
            return false;
        firmware.SetKnob(it->second, static_cast<int32_t>(TableNumber(value)));
    }
    return true;
}

// The owner's members that no operation may change, to compare afterwards.
struct OwnerMembers
{
    explicit OwnerMembers(const EDABBlock& block)
        : dwAllowed(block.dwAllowedReason), dwNoCheckPower(block.dwNoCheckPower),
          blForceVer20(block.blForceVer20)
    {
        memcpy(szPassword, block.szPassword, sizeof(szPassword));
    }
    void ExpectUnchanged(const EDABBlock& block) const
    {
        EXPECT_EQ(0, memcmp(szPassword, block.szPassword, sizeof(szPassword)));
        EXPECT_EQ(dwAllowed, block.dwAllowedReason);
        EXPECT_EQ(dwNoCheckPower, block.dwNoCheckPower);
        EXPECT_EQ(blForceVer20, block.blForceVer20);
    }
    char szPassword[sizeof(EDABBlock::szPassword)];
    DWORD dwAllowed;
    DWORD dwNoCheckPower;
    bool blForceVer20;
};

// A block read seen from the caller's buffer (before: its bytes with guards
// beforehand): the guards intact; on success the block's bytes (as many as
// the block holds, should the firmware report more) and nothing changed past
// the reported size; on failure nothing changed at all.
inline void ExpectReadOutcome(const GuardedBuffer& data, const std::vector<uint8_t>& before,
                              bool blResult, DWORD dwSize, const std::vector<uint8_t>& blockBefore)
{
    EXPECT_TRUE(data.GuardsIntact());
    if (!blResult)
    {
        EXPECT_EQ(before, data.bytes) << "a failed read copies nothing";
        return;
    }
    ASSERT_LE(dwSize, data.cbData);
    const size_t cbBlock = std::min<size_t>(dwSize, blockBefore.size());
    EXPECT_EQ(0, memcmp(data.Data(), blockBefore.data(), cbBlock)) << "the block's bytes";
    EXPECT_EQ(0, memcmp(data.Data() + dwSize, before.data() + GuardedBuffer::kGuard + dwSize,
                        data.cbData - dwSize))
        << "nothing past the block";
}

// A block write: the caller's data and guards as they were; the block holds
// the data's first bytes after a success and is unchanged after a failure.
inline void ExpectWriteOutcome(const GuardedBuffer& data, const std::vector<uint8_t>& before,
                               bool blResult, const std::vector<uint8_t>& blockBefore,
                               const std::vector<uint8_t>& blockAfter)
{
    EXPECT_EQ(before, data.bytes) << "the source and its guards stay as they were";
    if (!blResult)
    {
        EXPECT_EQ(blockBefore, blockAfter) << "a failed write leaves the block as it was";
        return;
    }
    ASSERT_EQ(blockBefore.size(), blockAfter.size());
    EXPECT_EQ(0, memcmp(blockAfter.data(), data.Data(), blockAfter.size())) << "the data landed";
}
