// The WMI-ACPI error texts and the argument-buffer header.
#include "wmi/wmi_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

TEST(WmiErrorName, KnownReservedAndUnknownCodes)
{
    EXPECT_STREQ(WmiErrorName(0), "NO_ERROR");
    EXPECT_STREQ(WmiErrorName(1), "CoInitialize fail");
    EXPECT_STREQ(WmiErrorName(4), "Connect to 'ROOT\\WMI' fail");
    EXPECT_STREQ(WmiErrorName(5), "CoSetProxyBlanket fail");
    EXPECT_STREQ(WmiErrorName(6), "WMIACPI_Get_EVCD.ExecQuery fail");
    EXPECT_STREQ(WmiErrorName(9), "WMIACPI_Get_WARG.length > 256");
    EXPECT_STREQ(WmiErrorName(11), "WMIACPI_Get_WARG.Enumerate fail");
    EXPECT_STREQ(WmiErrorName(17), "WMIACPI_Get_WPLD.length > 4096");
    // Misspelt, and kept so: callers may match the text.
    EXPECT_STREQ(WmiErrorName(19), "WPIACPI_Get_WPLD.Enumerate fail");
    EXPECT_STREQ(WmiErrorName(23), "WMIACPI_Set_WPLD.Enumerate fail");
    EXPECT_STREQ(WmiErrorName(27), "WMIACPI_Call_WatchDog.pSvc is NULL");
    EXPECT_STREQ(WmiErrorName(32), "WMIACPI_Call_Method.Enumerate fail");
    EXPECT_STREQ(WmiErrorName(35), "WMIACPI_Wait_Notify.Enumerate fail");
    EXPECT_STREQ(WmiErrorName(36), "Unknown ERROR");
    EXPECT_STREQ(WmiErrorName(0xFFFFFFFFu), "Unknown ERROR");
}

TEST(WmiErrorName, EveryCodeUpTo35HasItsOwnText)
{
    std::set<std::string> texts;
    for (uint32_t dwCode = 0; dwCode <= 35; ++dwCode)
    {
        std::string text = WmiErrorName(dwCode);
        EXPECT_NE(text, "Unknown ERROR") << dwCode;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 36u);
    // The primitives' three codes each: no service, query, enumeration.
    const uint32_t firstCodes[] = {8, 12, 16, 20, 30};
    for (uint32_t dwCode : firstCodes)
    {
        std::string text = WmiErrorName(dwCode);
        EXPECT_EQ(text.substr(text.size() - 12), "pSvc is NULL") << dwCode;
        text = WmiErrorName(dwCode == 30 ? 31 : dwCode + 2);
        EXPECT_EQ(text.substr(text.size() - 14), "ExecQuery fail") << dwCode;
    }
}

TEST(WmiCallHeader, FieldsLandAtTheirOffsetsLittleEndian)
{
    std::vector<uint8_t> arg(256, 0xEE);
    WmiCallHeader header = {};
    header.Signature = 0x0066;
    header.Revision = 0x0001;
    header.BufferSize = 0x0100;
    header.Status = 0x82;
    header.ErrorCode = 4;
    header.SubFunction = 0x81;
    header.ParamWord = 0x1234;
    header.ParamDword = 0xA1B2C3D4;
    header.ParamLength = 0x1000;
    WmiWriteHeader(arg.data(), header);
    const uint8_t expected[17] = {0x66, 0x00, 0x01, 0x00, 0x00, 0x01, 0x82, 0x04, 0x81,
                                  0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0x00, 0x10};
    EXPECT_EQ(std::memcmp(arg.data(), expected, sizeof(expected)), 0);
    EXPECT_EQ(arg[17], 0xEE); // nothing past the header
    WmiCallHeader back = WmiReadHeader(arg.data());
    EXPECT_EQ(+back.ParamDword, 0xA1B2C3D4u); // copies: the fields are packed
    EXPECT_EQ(+back.ParamLength, 0x1000);
    EXPECT_TRUE(WmiIsComplete(back));
    EXPECT_TRUE(WmiHasFailed(back));
    EXPECT_FALSE(WmiMarkerStanding(back));
}

TEST(WmiCallHeader, BeginRequestKeepsTheParameterFields)
{
    std::vector<uint8_t> arg(256);
    for (size_t i = 0; i < arg.size(); ++i)
        arg[i] = static_cast<uint8_t>(0xA0 + i);
    std::vector<uint8_t> before = arg;
    WmiBeginRequest(arg.data());
    const uint8_t common[8] = {0x66, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(arg.data(), common, sizeof(common)), 0);
    EXPECT_TRUE(std::equal(before.begin() + 8, before.end(), arg.begin() + 8));
}

TEST(WmiCallHeader, MarkerNeedsBothBytes)
{
    std::vector<uint8_t> arg(256);
    arg[9] = 0xAA;
    arg[10] = 0xAA;
    EXPECT_TRUE(WmiMarkerStanding(WmiReadHeader(arg.data())));
    arg[10] = 0x00;
    EXPECT_FALSE(WmiMarkerStanding(WmiReadHeader(arg.data())));
    arg[6] = 0x7F; // every bit but completion
    EXPECT_FALSE(WmiIsComplete(WmiReadHeader(arg.data())));
    arg[6] = 0xFD; // every bit but failure
    EXPECT_FALSE(WmiHasFailed(WmiReadHeader(arg.data())));
}

TEST(WmiCallHeader, ReturnDumpShowsEightBytesInUpperCaseHex)
{
    const uint8_t arg[16] = {0x66, 0x00, 0x01, 0x00, 0x00, 0x01, 0x82, 0x0A,
                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(WmiFormatReturnDump(arg), "Call Func return:\n66 0 1 0 0 1 82 A ");
}

TEST(WmiStepError, FormatsNameTheStepCodeAndText)
{
    EXPECT_EQ(WmiFormatStepError(WmiStep::SetWarg, 12),
              "SetWARG - Error(12):WMIACPI_Set_WARG.pSvc is NULL");
    EXPECT_EQ(WmiFormatStepError(WmiStep::SetWpld, 23),
              "SetWPLD - Error(23):WMIACPI_Set_WPLD.Enumerate fail");
    EXPECT_EQ(WmiFormatStepError(WmiStep::CallMethod, 30),
              "CallMethod - Error(30):WMIACPI_Call_Method.pSvc is NULL");
    EXPECT_EQ(WmiFormatStepError(WmiStep::GetWarg, 11),
              "GetWARG - Error(11):WMIACPI_Get_WARG.Enumerate fail");
    EXPECT_EQ(WmiFormatStepError(WmiStep::GetWpld, 19),
              "GetWPLD - Error(19):WPIACPI_Get_WPLD.Enumerate fail");
    EXPECT_EQ(WmiFormatStepError(WmiStep::GetWpld, 0xFFFFFFFFu),
              "GetWPLD - Error(-1):Unknown ERROR");
}

TEST(WmiFunctionTable, FieldsTheRowDoesNotNameKeepTheirBytes)
{
    std::vector<uint8_t> arg(256, 0x5A);
    const WmiFunctionRow* pRow = WmiFindFunction(0x464C5343); // FLSC
    ASSERT_NE(pRow, nullptr);
    WmiWriteFunctionFields(arg.data(), *pRow, 0xABCD0123);
    const uint8_t expected[9] = {0x08, 0x23, 0x01, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
    EXPECT_EQ(std::memcmp(arg.data() + 8, expected, sizeof(expected)), 0);

    pRow = WmiFindFunction(0x46575249); // FWRI: marker, argument and 4 KiB
    ASSERT_NE(pRow, nullptr);
    WmiWriteFunctionFields(arg.data(), *pRow, 0x01020304);
    const uint8_t expectedFwri[9] = {0x03, 0xAA, 0xAA, 0x04, 0x03, 0x02, 0x01, 0x00, 0x10};
    EXPECT_EQ(std::memcmp(arg.data() + 8, expectedFwri, sizeof(expectedFwri)), 0);
    EXPECT_EQ(arg[7], 0x5A);
    EXPECT_EQ(arg[17], 0x5A);

    // OEM data fills its own header; unknown codes are refused.
    EXPECT_EQ(WmiFindFunction(0x4F454D44), nullptr);
    EXPECT_EQ(WmiFindFunction(0), nullptr);
}

TEST(WmiFunctionTable, OnlyFebwAndFlscOneSendTheCallersPayload)
{
    EXPECT_FALSE(WmiClearsPayload(0x46454257, 0)); // FEBW
    EXPECT_FALSE(WmiClearsPayload(0x464C5343, 1)); // FLSC 1
    EXPECT_TRUE(WmiClearsPayload(0x464C5343, 0));
    EXPECT_TRUE(WmiClearsPayload(0x464C5343, 0x10001));
    EXPECT_TRUE(WmiClearsPayload(0x46494E49, 1)); // FINI
    EXPECT_TRUE(WmiClearsPayload(0x4F454D44, 1)); // refused codes too
    EXPECT_STREQ(WmiErrorCodeText(4), "Access Denied.\n");
    EXPECT_STREQ(WmiErrorCodeText(3), "Unknown error.\n");
    EXPECT_STREQ(WmiErrorCodeText(0), "Unknown error.\n");
}
