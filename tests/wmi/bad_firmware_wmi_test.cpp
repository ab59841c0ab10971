// Runs tests/wmi/bad_firmware_wmi.tsv: every value the firmware supplies over
// ACPI-WMI (return header, payload, array sizes, GenericFunction status), at
// and past its boundary, against the firmware model behind the simulated BIOS
// classes and the GenericInterface server. Besides each row's own
// expectations, every row checks that nothing outside a buffer was touched,
// nothing was lost and every COM object was given back.
#include "access/function_codes.h"
#include "flash/flash_protocol.h"
#include "sim/wmi_model_firmware.h"
#include "sim/wmi_sim_bios.h"
#include "tests/common/firmware_setup.h"
#include "wmi/wmi_generic.h"
#include "wmi_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace
{

constexpr char kUntouched[] = "untouched";
constexpr DWORD kEarlierFlag = 0x80000000; // a caller's bit from an earlier call
constexpr uint8_t kArrayTailSeed = 0x3C;   // WMI array bytes, to tell them apart

// The firmware model, bent the way a row asks: header bytes changed after
// the model answered, refusals that never reach the model, and a payload
// scribbled on while the firmware is busy.
class BentFirmware : public WmiFirmware
{
public:
    explicit BentFirmware(WmiModelFirmware& inner) : m_inner(inner) {}

    void Process(uint8_t* pbArg, uint8_t* pbPayload) override
    {
        const int nBefore = m_inner.nCompletedCalls;
        m_inner.Process(pbArg, pbPayload);
        const bool blCompleted = m_inner.nCompletedCalls != nBefore;
        if (!blCompleted && blScribbleWhileBusy)
            std::memset(pbPayload, 0x5A, 64);
        for (const HeaderPatch& patch : patches)
            if (patch.nCall == 0 || (blCompleted && patch.nCall == m_inner.nCompletedCalls))
                pbArg[patch.dwOffset] = patch.bValue;
    }

    struct HeaderPatch
    {
        int nCall; // completed firmware call, from 1; 0: every exchange
        uint32_t dwOffset;
        uint8_t bValue;
    };
    std::vector<HeaderPatch> patches;
    bool blScribbleWhileBusy = false;

private:
    WmiModelFirmware& m_inner;
};

// The WMI request header every exchange starts with, and the FINI request
// header over WMI for both revisions.
const uint8_t kRequestStart[8] = {0x66, 0, 0x01, 0, 0x00, 0x01, 0, 0};
std::vector<uint8_t> FiniHeader(bool blVer20)
{
    std::vector<uint8_t> header = {0x5F, 0x46, 0x54, 0x5F, 32, 0, 0, 1};
    const std::vector<uint8_t> interfaceField =
        blVer20 ? std::vector<uint8_t>{0x01, 0x05, 0, 0} : std::vector<uint8_t>{0x00, 0x04, 0, 0};
    header.insert(header.end(), interfaceField.begin(), interfaceField.end());
    header.insert(header.end(), {9, 3, 0x01, 0x09, 0x10, 0x20, 0, 0, 0, 0});
    header.insert(header.end(), 10, blVer20 ? 0xFF : 0x00);
    return header;
}

std::vector<uint8_t> ArrayOf(size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i + kArrayTailSeed);
    return bytes;
}

// The access object between guard bytes, as an owner would hold it.
struct alignas(16) GuardedObject
{
    static constexpr uint8_t kGuardByte = 0xB7;
    uint8_t abBefore[64];
    alignas(WMIGeneric) uint8_t abObject[sizeof(WMIGeneric)];
    uint8_t abAfter[64];

    GuardedObject()
    {
        std::memset(this, kGuardByte, sizeof(*this));
        new (abObject) WMIGeneric;
    }
    ~GuardedObject() { Get().~WMIGeneric(); }
    WMIGeneric& Get() { return *std::launder(reinterpret_cast<WMIGeneric*>(abObject)); }
    bool GuardsIntact() const
    {
        for (size_t i = 0; i < sizeof(abBefore); ++i)
            if (abBefore[i] != kGuardByte || abAfter[i] != kGuardByte)
                return false;
        return true;
    }
};

const std::map<std::string, DWORD> kCodes = {
    {"FLSH", FLSH}, {"FINI", FINI}, {"FERS", FERS}, {"FWRI", FWRI}, {"FWRP", FWRP}, {"FEBW", FEBW},
    {"FEBR", FEBR}, {"FEDW", FEDW}, {"ECSR", ECSR}, {"GDMI", GDMI}, {"FLSC", FLSC}, {"OEMD", OEMD},
};

class BadFirmwareWmi : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_pDll = new GenericSimDll;
        ASSERT_TRUE(s_pDll->Loaded());
        ASSERT_EQ(S_OK, s_pDll->Register());
    }
    static void TearDownTestSuite()
    {
        delete s_pDll;
        s_pDll = nullptr;
    }

    void RunRow(const TableRow& row, DWORD dwInterface);
    void Setup(const std::string& strItem);
    std::string Trace() const;

    static GenericSimDll* s_pDll;

    // Per row.
    FirmwareModel* m_pModel = nullptr;
    WmiModelFirmware* m_pInner = nullptr;
    BentFirmware* m_pBent = nullptr;
    WMIGeneric* m_pBlock = nullptr;
    DWORD m_dwGenericStatus = 0;
    size_t m_cbArgArray = kWmiArgSize;
    size_t m_cbPayloadArray = kWmiPayloadSize;
};

GenericSimDll* BadFirmwareWmi::s_pDll = nullptr;

void BadFirmwareWmi::Setup(const std::string& strItem)
{
    const std::vector<std::string> kv = SplitText(strItem, '=', 2);
    ASSERT_EQ(2u, kv.size()) << strItem;
    const std::string& key = kv[0];
    const std::string& value = kv[1];
    if (key == "busy")
        m_pInner->nCompleteAfter = static_cast<int>(TableNumber(value));
    else if (key == "refuse") // refuse=CALL:CODE
    {
        const std::vector<std::string> p = SplitText(value, ':');
        ASSERT_EQ(2u, p.size()) << strItem;
        m_pInner->nFailCall = static_cast<int>(TableNumber(p[0]));
        m_pInner->bFailErrorCode = static_cast<uint8_t>(TableNumber(p[1]));
    }
    else if (key == "hdr") // hdr=CALL:OFFSET:VALUE, CALL * = every exchange
    {
        const std::vector<std::string> p = SplitText(value, ':');
        ASSERT_EQ(3u, p.size()) << strItem;
        const uint32_t dwOffset = TableNumber(p[1]);
        ASSERT_LT(dwOffset, kWmiArgSize);
        m_pBent->patches.push_back({p[0] == "*" ? 0 : static_cast<int>(TableNumber(p[0])), dwOffset,
                                    static_cast<uint8_t>(TableNumber(p[2]))});
    }
    else if (key == "scribble")
        m_pBent->blScribbleWhileBusy = TableNumber(value) != 0;
    else if (key == "retry")
        m_pBlock->RetryLimit = static_cast<LONG>(TableNumber(value));
    else if (key == "status")
        m_dwGenericStatus = TableNumber(value);
    else if (key == "warg")
        m_cbArgArray = TableNumber(value);
    else if (key == "wpld")
        m_cbPayloadArray = TableNumber(value);
    else
    {
        EXPECT_TRUE(ApplySharedSetupItem(key, value, *m_pModel, *m_pBlock))
            << "unknown setup item " << strItem;
    }
}

// The functions the firmware model acted on, as "FLSH1 FLSH0 ECSR1 FINI ...".
std::string BadFirmwareWmi::Trace() const
{
    static const char* const kNames[] = {"FLSH", "FINI", "FERS", "FWRx", "FEBW",
                                         "FEBR", "FEDW", "ECSR", "FLSC"};
    std::string trace;
    for (const VbEvent& ev : m_pModel->Recorder().Events())
    {
        if (ev.dwKind != VBEV_CALL)
            continue;
        if (!trace.empty())
            trace += ' ';
        trace += ev.dwA < 9 ? kNames[ev.dwA] : ev.dwA == 0x81 ? "OEMD" : "?";
        // Functions whose word is a parameter rather than the marker.
        if (ev.dwA == 0 || ev.dwA == 7 || ev.dwA == 8 || ev.dwA == 0x81)
            trace += std::to_string(ev.dwB);
    }
    return trace;
}

void BadFirmwareWmi::RunRow(const TableRow& row, DWORD dwInterface)
{
    ASSERT_GE(row.cols.size(), 9u) << "too few columns";
    const std::string& strSetup = row.cols[2];
    const std::vector<std::string> op = SplitText(row.cols[3], ' ');
    const bool blExpected = row.cols[4] == "true";
    const uint32_t dwExpectedWord = TableNumber(row.cols[5]);
    const std::string& strText = row.cols[6];
    const std::string& strTrace = row.cols[7];
    const std::string& strOut = row.cols[8];

    FirmwareModel model;
    WmiModelFirmware inner(model);
    BentFirmware bent(inner);
    SimWmiBios bios;
    FILE* pLog = std::tmpfile();
    ASSERT_NE(nullptr, pLog);
    m_pModel = &model;
    m_pInner = &inner;
    m_pBent = &bent;
    m_dwGenericStatus = 0;
    m_cbArgArray = kWmiArgSize;
    m_cbPayloadArray = kWmiPayloadSize;
    {
        GuardedObject object;
        WMIGeneric& block = object.Get();
        m_pBlock = &block;
        block.ppLogFile = &pLog;
        block.blDebug = true;
        block.RetryLimit = 8;
        block.CallInterface = dwInterface;
        std::strcpy(block.szMessage, kUntouched);
        if (strSetup != "-")
            for (const std::string& strItem : SplitText(strSetup, ';'))
            {
                Setup(strItem);
                if (HasFatalFailure())
                    return;
            }

        if (dwInterface == 1)
        {
            ASSERT_EQ(S_OK, CoInitialize(nullptr));
            bios.pFirmware = &bent;
            bios.Instances(kSimArgClass)[0].properties[L"WAG8"] =
                SimVariant::Bytes(ArrayOf(m_cbArgArray));
            bios.Instances(kSimPayloadClass)[0].properties[L"WPD8"] =
                SimVariant::Bytes(ArrayOf(m_cbPayloadArray));
            block.pSvc = bios.NewServices();
        }
        else
            s_pDll->Configure(&bent, m_dwGenericStatus);

        const OwnerMembers owner(block);
        IWbemServices* const pSvc = block.pSvc;
        const LONG lRetryLimit = block.RetryLimit;

        bool blResult = false;
        uint32_t dwWord = 0;
        std::string strOutActual;
        const uint32_t dwBlock = op.size() > 1 ? TableNumber(op[1]) : 0;
        std::vector<uint8_t> blockBefore;
        model.GetBlock(dwBlock, &blockBefore);
        const std::vector<uint8_t> storeBefore = model.OemData();
        Captured captured;
        if (op[0] == "read")
        {
            ASSERT_EQ(3u, op.size()) << row.cols[3];
            GuardedBuffer data(TableNumber(op[2]));
            const std::vector<uint8_t> before = data.bytes;
            DWORD dwSize = static_cast<DWORD>(data.cbData);
            DWORD dwFlags = kEarlierFlag;
            captured = CaptureOutput(
                [&] { blResult = block.ReadBlock(dwBlock, data.Data(), &dwSize, &dwFlags); });
            EXPECT_TRUE(dwFlags & kEarlierFlag) << "the caller's bits stay";
            dwWord = dwFlags & ~kEarlierFlag;
            strOutActual = "size=" + std::to_string(dwSize);
            ExpectReadOutcome(data, before, blResult, dwSize, blockBefore);
            std::vector<uint8_t> after;
            model.GetBlock(dwBlock, &after);
            EXPECT_EQ(blockBefore, after) << "a read changes no flash";
        }
        else if (op[0] == "write")
        {
            ASSERT_EQ(3u, op.size()) << row.cols[3];
            GuardedBuffer data(TableNumber(op[2]));
            const std::vector<uint8_t> before = data.bytes;
            DWORD dwFlags = kEarlierFlag;
            captured = CaptureOutput(
                [&] {
                    blResult = block.WriteBlock(dwBlock, data.Data(),
                                                static_cast<DWORD>(data.cbData), &dwFlags);
                });
            EXPECT_TRUE(dwFlags & kEarlierFlag) << "the caller's bits stay";
            dwWord = dwFlags & ~kEarlierFlag;
            std::vector<uint8_t> after;
            model.GetBlock(dwBlock, &after);
            ExpectWriteOutcome(data, before, blResult, blockBefore, after);
        }
        else if (op[0] == "oem")
        {
            ASSERT_EQ(4u, op.size()) << row.cols[3];
            const uint8_t bKind = static_cast<uint8_t>(TableNumber(op[1]));
            const uint32_t dwValue = TableNumber(op[2]);
            GuardedBuffer data(TableNumber(op[3]));
            const std::vector<uint8_t> before = data.bytes;
            DWORD dwLen = static_cast<DWORD>(data.cbData);
            BYTE bOut = 0xEE;
            DWORD dwStatus = 0xFFFFFFFF;
            captured = CaptureOutput(
                [&] {
                    blResult = block.OemData(bKind, dwValue, data.Data(), &dwLen, &bOut, &dwStatus);
                });
            dwWord = dwStatus;
            strOutActual = "len=" + std::to_string(dwLen) + " out=" + std::to_string(bOut);
            EXPECT_TRUE(data.GuardsIntact());
            if (blResult && bKind == OEMDATA_READ)
            {
                const size_t cbCopied = std::min(storeBefore.size(), data.cbData);
                EXPECT_EQ(0, memcmp(data.Data(), storeBefore.data(), cbCopied));
            }
            else
            {
                EXPECT_EQ(before, data.bytes) << "only a successful read fills the buffer";
            }
            if (bKind != OEMDATA_WRITE)
            {
                EXPECT_EQ(storeBefore, model.OemData()) << "only a write changes the store";
            }
            else if (blResult)
            {
                EXPECT_EQ(std::vector<uint8_t>(data.Data(), data.Data() + data.cbData),
                          model.OemData());
            }
        }
        else if (op[0] == "call")
        {
            ASSERT_EQ(3u, op.size()) << row.cols[3];
            const auto it = kCodes.find(op[1]);
            ASSERT_NE(kCodes.end(), it) << op[1];
            DWORD dwResult = 0xFFFFFFFF;
            captured = CaptureOutput(
                [&]
                { blResult = block.CallWmiFunction(it->second, TableNumber(op[2]), &dwResult); });
            dwWord = dwResult;
        }
        else
            FAIL() << "unknown operation " << row.cols[3];

        EXPECT_EQ(blExpected, blResult);
        EXPECT_EQ(dwExpectedWord, dwWord) << std::hex << "0x" << dwWord;
        if (strTrace != "-")
        {
            EXPECT_EQ(strTrace, Trace());
        }
        // The out column: "size=N", "len=N out=N" and "x=N" (exchanges that
        // reached the firmware), each where the row asks.
        for (const std::string& strCheck : SplitText(strOut, ' '))
        {
            if (strCheck == "-")
                continue;
            if (strCheck.compare(0, 2, "x=") == 0)
            {
                EXPECT_EQ(TableNumber(strCheck.substr(2)), inner.argsReceived.size())
                    << "exchanges";
            }
            else
            {
                EXPECT_NE(std::string::npos, (" " + strOutActual + " ").find(" " + strCheck + " "))
                    << strOutActual;
            }
        }

        const std::string strLog = StreamContents(pLog);
        std::string strMessage = kUntouched;
        bool blErrChecked = false;
        for (const std::string& strCheck : TextChecks(strText))
        {
            if (strCheck.compare(0, 4, "msg=") == 0)
                strMessage = strCheck.substr(4);
            else if (strCheck.compare(0, 4, "out:") == 0)
            {
                EXPECT_NE(std::string::npos, captured.out.find(strCheck.substr(4)))
                    << "standard output lacks \"" << strCheck.substr(4) << "\":\n"
                    << captured.out;
            }
            else if (strCheck.compare(0, 4, "err:") == 0)
            {
                EXPECT_EQ(strCheck.substr(4), captured.err);
                blErrChecked = true;
            }
            else
            {
                EXPECT_NE(std::string::npos, strLog.find(ExpandText(strCheck)))
                    << "log lacks \"" << ExpandText(strCheck) << "\":\n"
                    << strLog;
            }
        }
        EXPECT_STREQ(strMessage.c_str(), block.szMessage);
        if (!blErrChecked)
        {
            EXPECT_EQ("", captured.err) << "nothing on standard error unless the row says so";
        }

        // Every exchange carried a freshly written request header, and every
        // FINI exchange its request header, busy firmware or not.
        for (size_t i = 0; i < inner.argsReceived.size(); ++i)
        {
            const std::vector<uint8_t>& arg = inner.argsReceived[i];
            EXPECT_EQ(0, memcmp(arg.data(), kRequestStart, sizeof(kRequestStart)))
                << "exchange " << i + 1;
            if (arg[8] == 1 && arg[9] == 0xAA && arg[10] == 0xAA)
            {
                const std::vector<uint8_t> expected = FiniHeader(block.blForceVer20);
                EXPECT_EQ(
                    0, memcmp(inner.payloadsReceived[i].data(), expected.data(), expected.size()))
                    << "FINI header on exchange " << i + 1;
            }
        }

        // Nothing outside a buffer, nothing of the owner's changed.
        EXPECT_TRUE(object.GuardsIntact()) << "a write past the access object";
        owner.ExpectUnchanged(block);
        EXPECT_EQ(dwInterface, block.CallInterface);
        EXPECT_EQ(lRetryLimit, block.RetryLimit);
        EXPECT_EQ(pSvc, block.pSvc);
        EXPECT_EQ(nullptr, block.pLoc);
        if (dwInterface == 1)
        {
            // Longer arrays are touched only in their first 256 / 4096 bytes.
            const std::vector<uint8_t> arg = bios.ByteArray(kSimArgClass, 0, L"WAG8");
            const std::vector<uint8_t> payload = bios.ByteArray(kSimPayloadClass, 0, L"WPD8");
            const std::vector<uint8_t> argWas = ArrayOf(m_cbArgArray);
            const std::vector<uint8_t> payloadWas = ArrayOf(m_cbPayloadArray);
            ASSERT_EQ(argWas.size(), arg.size());
            ASSERT_EQ(payloadWas.size(), payload.size());
            if (arg.size() > kWmiArgSize)
            {
                EXPECT_TRUE(
                    std::equal(arg.begin() + kWmiArgSize, arg.end(), argWas.begin() + kWmiArgSize));
            }
            if (payload.size() > kWmiPayloadSize)
            {
                EXPECT_TRUE(std::equal(payload.begin() + kWmiPayloadSize, payload.end(),
                                       payloadWas.begin() + kWmiPayloadSize));
            }
        }
    } // the object is destroyed here, ending its connection
    std::fclose(pLog);
    EXPECT_EQ(0, bios.lLiveObjects) << "a simulated WMI object was not released";
    EXPECT_EQ(0, s_pDll->LiveObjects()) << "a GenericInterface object was not released";
    s_pDll->Configure(nullptr, 0);
}

TEST_F(BadFirmwareWmi, EveryRowOfTheTable)
{
    const std::vector<TableRow> rows = ReadTableBesideProgram("bad_firmware_wmi.tsv");
    ASSERT_GE(rows.size(), 40u) << "bad_firmware_wmi.tsv beside the test";
    for (const TableRow& row : rows)
    {
        ASSERT_GE(row.cols.size(), 2u) << "line " << row.nLine;
        const std::string& via = row.cols[1];
        for (DWORD dwInterface : {1u, 0u})
        {
            if (via == (dwInterface == 1 ? "generic" : "classes"))
                continue;
            SCOPED_TRACE("bad_firmware_wmi.tsv line " + std::to_string(row.nLine) + ": " +
                         row.cols[0] +
                         (dwInterface == 1 ? " (WMI classes)" : " (GenericInterface)"));
            RunRow(row, dwInterface);
        }
    }
}

} // namespace
