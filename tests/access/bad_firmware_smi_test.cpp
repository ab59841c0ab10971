// Runs tests/access/bad_firmware_smi.tsv: every value the firmware supplies
// over SMI, at and past its boundary, against the virtual BIOS. Besides each
// row's own expectations, every row checks that nothing outside a buffer was
// touched and nothing was lost.
#include "vbios_fixture.h"

#include "tests/common/firmware_setup.h"

#include "flash/flash_protocol.h"

#include <cstring>
#include <map>

namespace
{

constexpr char kUntouched[] = "untouched";

using Row = TableRow;

class BadFirmwareSmi : public VirtualBios
{
protected:
    void RunRow(const Row& row);
    void Setup(const std::string& strItem, EDABBlock& block);

    // The firmware's setup calls, through the virtual BIOS's control exports.
    struct VbiosControl
    {
        BadFirmwareSmi& bios;
        void SetBlock(uint32_t dwBlock, const uint8_t* pData, uint32_t cbData, uint32_t dwReported)
        {
            bios.VbSetBlock(dwBlock, pData, cbData, dwReported);
        }
        void AddFiniPatch(uint32_t dwOffset, const uint8_t* pData, uint32_t cbData)
        {
            bios.VbAddFiniPatch(dwOffset, pData, cbData);
        }
        void SetPassword(const char* pszPassword) { bios.VbSetPassword(pszPassword); }
        void SetOemData(const uint8_t* pData, uint32_t cbData) { bios.VbSetOemData(pData, cbData); }
        void SetKnob(uint32_t dwKnob, int32_t nValue) { bios.VbSetKnob(dwKnob, nValue); }
    };
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
    else
    {
        VbiosControl control{*this};
        EXPECT_TRUE(ApplySharedSetupItem(key, value, control, block))
            << "unknown setup item " << strItem;
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
    const OwnerMembers owner(block);

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
        ExpectReadOutcome(data, before, blResult, dwSize, blockBefore);
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
        ExpectWriteOutcome(data, before, blResult, blockBefore, Block(dwBlock));
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
    owner.ExpectUnchanged(block);
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
