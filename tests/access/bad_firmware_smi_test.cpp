// Runs tests/access/bad_firmware_smi.tsv: every value the firmware supplies
// over SMI, at and past its boundary, against the virtual BIOS. Besides each
// row's own expectations, every row checks that nothing outside a buffer was
// touched and nothing was lost.
#include "vbios_fixture.h"

#include "tests/common/table_rows.h"

#include "flash/flash_protocol.h"

#include <cstring>
#include <map>

namespace
{

constexpr char kUntouched[] = "untouched";

using Row = TableRow;

const std::map<std::string, uint32_t> kKnobs = {
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

class BadFirmwareSmi : public VirtualBios
{
protected:
    void RunRow(const Row& row);
    void Setup(const std::string& strItem, EDABBlock& block);
};

void BadFirmwareSmi::Setup(const std::string& strItem, EDABBlock& block)
{
    const std::vector<std::string> kv = SplitText(strItem, '=', 2);
    ASSERT_EQ(2u, kv.size()) << strItem;
    const std::string& key = kv[0];
    const std::string& value = kv[1];
    VbLayout layout = Layout();
    if (key == "extf" || key == "extfver" || key == "desc")
    {
        (key == "extf"      ? layout.dwExtfOffset
         : key == "extfver" ? layout.bExtfVersion
                            : layout.wDescriptorOffset) = TableNumber(value);
        VbSetLayout(&layout);
    }
    else if (key == "block")
    {
        std::vector<std::string> p = SplitText(value, ':');
        ASSERT_EQ(3u, p.size()) << strItem;
        std::vector<uint8_t> data(TableNumber(p[1]));
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 11 + 3);
        VbSetBlock(TableNumber(p[0]), data.data(), static_cast<uint32_t>(data.size()),
                   TableNumber(p[2]));
    }
    else if (key == "record")
    {
        std::vector<std::string> p = SplitText(value, ':');
        ASSERT_EQ(3u, p.size()) << strItem;
        const uint32_t dwInfo = TableNumber(p[2]);
        const uint8_t abRecord[9] = {0x49,
                                     0x4E,
                                     0x49,
                                     0x46,
                                     static_cast<uint8_t>(TableNumber(p[1])),
                                     static_cast<uint8_t>(dwInfo),
                                     static_cast<uint8_t>(dwInfo >> 8),
                                     static_cast<uint8_t>(dwInfo >> 16),
                                     static_cast<uint8_t>(dwInfo >> 24)};
        VbAddFiniPatch(TableNumber(p[0]), abRecord, sizeof(abRecord));
    }
    else if (key == "info")
    {
        std::vector<std::string> p = SplitText(value, ':', 3);
        ASSERT_EQ(3u, p.size()) << strItem;
        const uint32_t dwReason = TableNumber(p[1]);
        std::vector<uint8_t> info = {
            static_cast<uint8_t>(dwReason), static_cast<uint8_t>(dwReason >> 8),
            static_cast<uint8_t>(dwReason >> 16), static_cast<uint8_t>(dwReason >> 24)};
        const std::string strText = ExpandText(p[2]);
        info.insert(info.end(), strText.begin(), strText.end());
        VbAddFiniPatch(TableNumber(p[0]), info.data(), static_cast<uint32_t>(info.size()));
    }
    else if (key == "password")
        VbSetPassword(ExpandText(value).c_str());
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
        VbSetOemData(store.data(), static_cast<uint32_t>(store.size()));
    }
    else
    {
        auto it = kKnobs.find(key);
        ASSERT_NE(kKnobs.end(), it) << "unknown setup item " << strItem;
        VbSetKnob(it->second, static_cast<int32_t>(TableNumber(value)));
    }
}

void BadFirmwareSmi::RunRow(const Row& row)
{
    ASSERT_GE(row.cols.size(), 8u) << "line " << row.nLine << ": too few columns";
    const std::string& strSetup = row.cols[1];
    const std::vector<std::string> op = SplitText(row.cols[2], ' ');
    const bool blExpected = row.cols[3] == "true";
    const uint32_t dwExpectedFlags = TableNumber(row.cols[4]);
    const std::string& strText = row.cols[5];
    const std::string& strTrace = row.cols[6];
    const std::string& strOut = row.cols[7];

    VbReset();
    if (m_pLog)
        fclose(m_pLog);
    m_pLog = tmpfile();
    ASSERT_NE(nullptr, m_pLog);

    // A fresh object per row: blExtfVer20 never goes back to false.
    EDABBlock block;
    FillEntryPoints(block, m_hVbios);
    block.ppLogFile = &m_pLog;
    block.blDebug = true;
    block.dwAllocArg1 = 0x11;
    block.dwAllocArg4 = 0x44;
    strcpy(block.szMessage, kUntouched);
    if (strSetup != "-")
        for (const std::string& strItem : SplitText(strSetup, ';'))
        {
            Setup(strItem, block);
            if (HasFatalFailure())
                return;
        }
    // The owner's members, to compare afterwards.
    char szOwnerPassword[sizeof(block.szPassword)];
    memcpy(szOwnerPassword, block.szPassword, sizeof(szOwnerPassword));
    const DWORD dwOwnerAllowed = block.dwAllowedReason;
    const DWORD dwOwnerNcp = block.dwNoCheckPower;

    bool blResult = false;
    uint32_t dwOutWord = 0;
    std::string strOutActual = "-";
    ASSERT_GE(op.size(), 3u) << row.cols[2];
    const uint32_t dwBlock = TableNumber(op[1]);
    const std::vector<uint8_t> blockBefore = Block(dwBlock);
    if (op[0] == "read")
    {
        GuardedBuffer data(TableNumber(op[2]));
        const std::vector<uint8_t> before = data.bytes;
        DWORD dwSize = static_cast<DWORD>(data.cbData);
        DWORD dwFlags = 0xFFFFFFFF;
        blResult = block.ReadBlock(dwBlock, data.Data(), &dwSize, &dwFlags);
        dwOutWord = dwFlags;
        strOutActual = "size=" + std::to_string(dwSize);
        EXPECT_TRUE(data.GuardsIntact());
        if (blResult)
        {
            ASSERT_LE(dwSize, data.cbData);
            EXPECT_EQ(0, memcmp(data.Data(), blockBefore.data(), dwSize)) << "the block's bytes";
            EXPECT_EQ(0,
                      memcmp(data.Data() + dwSize, before.data() + GuardedBuffer::kGuard + dwSize,
                             data.cbData - dwSize))
                << "nothing past the block";
        }
        else
        {
            EXPECT_EQ(before, data.bytes) << "a failed read copies nothing";
        }
        EXPECT_EQ(blockBefore, Block(dwBlock)) << "a read changes no flash";
    }
    else if (op[0] == "write")
    {
        GuardedBuffer data(TableNumber(op[2]));
        const std::vector<uint8_t> before = data.bytes;
        DWORD dwFlags = 0xFFFFFFFF;
        blResult =
            block.WriteBlock(dwBlock, data.Data(), static_cast<DWORD>(data.cbData), &dwFlags);
        dwOutWord = dwFlags;
        EXPECT_EQ(before, data.bytes) << "the source and its guards stay as they were";
        const std::vector<uint8_t> after = Block(dwBlock);
        if (blResult)
        {
            ASSERT_EQ(blockBefore.size(), after.size());
            EXPECT_EQ(0, memcmp(after.data(), data.Data(), after.size())) << "the data landed";
        }
        else
        {
            EXPECT_EQ(blockBefore, after) << "a failed write leaves the block as it was";
        }
    }
    else if (op[0] == "oem")
    {
        const uint8_t bKind = static_cast<uint8_t>(TableNumber(op[1]));
        const uint32_t dwValue = TableNumber(op[2]);
        ASSERT_EQ(4u, op.size()) << row.cols[2];
        GuardedBuffer data(TableNumber(op[3]));
        const std::vector<uint8_t> before = data.bytes;
        DWORD dwLen = static_cast<DWORD>(data.cbData);
        BYTE bOut = 0;
        DWORD dwStatus = 0xFFFFFFFF;
        blResult = block.OemData(bKind, dwValue, data.Data(), &dwLen, &bOut, &dwStatus);
        dwOutWord = dwStatus;
        strOutActual = "len=" + std::to_string(dwLen);
        EXPECT_TRUE(data.GuardsIntact());
        std::vector<uint8_t> store(0x20000);
        store.resize(VbGetOemData(store.data(), static_cast<uint32_t>(store.size())));
        if (blResult && bKind == OEMDATA_READ)
        {
            EXPECT_EQ(0, memcmp(data.Data(), store.data(), std::min(store.size(), data.cbData)));
        }
        else
        {
            EXPECT_EQ(before, data.bytes) << "only a successful read fills the buffer";
        }
        if (blResult && bKind == OEMDATA_WRITE)
        {
            EXPECT_EQ(std::vector<uint8_t>(data.Data(), data.Data() + data.cbData), store);
        }
    }
    else
        FAIL() << "unknown operation " << row.cols[2];

    EXPECT_EQ(blExpected, blResult);
    EXPECT_EQ(dwExpectedFlags, dwOutWord);
    if (strOut != "-")
    {
        EXPECT_EQ(strOut, strOutActual);
    }
    if (strTrace != "-")
    {
        EXPECT_EQ(strTrace, Trace());
    }

    const std::string strLog = Log();
    std::string strMessage = kUntouched;
    for (const std::string& strCheck : TextChecks(strText))
    {
        if (strCheck.compare(0, 4, "msg=") == 0)
            strMessage = strCheck.substr(4);
        else
        {
            EXPECT_NE(std::string::npos, strLog.find(ExpandText(strCheck)))
                << "log lacks \"" << ExpandText(strCheck) << "\":\n"
                << strLog;
        }
    }
    EXPECT_STREQ(strMessage.c_str(), block.szMessage);

    // Nothing lost, nothing touched outside a buffer.
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_BUFFERS));
    EXPECT_EQ(0, VbGetKnob(VBK_OUTSTANDING_MAPPINGS));
    EXPECT_TRUE(Events(VBEV_MEM_WRITE).empty()) << "a write to physical memory outside the mailbox";
    EXPECT_EQ(0, memcmp(szOwnerPassword, block.szPassword, sizeof(szOwnerPassword)));
    EXPECT_EQ(dwOwnerAllowed, block.dwAllowedReason);
    EXPECT_EQ(dwOwnerNcp, block.dwNoCheckPower);
    EXPECT_EQ(0x11u, block.dwAllocArg1);
    EXPECT_EQ(0x44u, block.dwAllocArg4);
}

TEST_F(BadFirmwareSmi, EveryRowOfTheTable)
{
    const std::vector<Row> rows = ReadTableBesideProgram("bad_firmware_smi.tsv");
    ASSERT_GE(rows.size(), 50u) << "bad_firmware_smi.tsv beside the test";
    for (const Row& row : rows)
    {
        SCOPED_TRACE("bad_firmware_smi.tsv line " + std::to_string(row.nLine) + ": " + row.cols[0]);
        RunRow(row);
    }
}

} // namespace
