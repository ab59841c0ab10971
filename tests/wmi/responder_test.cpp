// The header-protocol test responder that the WMI tests put behind both
// simulated faces: it must answer exactly as configured.
#include "sim/wmi_test_responder.h"
#include "wmi/wmi_protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

struct Exchange
{
    std::vector<uint8_t> arg = std::vector<uint8_t>(kWmiArgSize);
    std::vector<uint8_t> payload = std::vector<uint8_t>(kWmiPayloadSize, 0x33);
    Exchange()
    {
        WmiBeginRequest(arg.data());
        arg[9] = arg[10] = 0xAA;
    }
    WmiCallHeader Header() const { return WmiReadHeader(arg.data()); }
};

} // namespace

TEST(WmiTestResponder, CompletesOnTheConfiguredExchange)
{
    WmiTestResponder responder;
    responder.nCompleteAfter = 3;
    responder.wResult = 0x1234;
    for (int i = 1; i <= 3; ++i)
    {
        Exchange exchange;
        responder.Process(exchange.arg.data(), exchange.payload.data());
        WmiCallHeader header = exchange.Header();
        EXPECT_EQ(WmiIsComplete(header), i == 3) << i;
        EXPECT_EQ(+header.ParamWord, i == 3 ? 0x1234 : 0xAAAA) << i;
        EXPECT_FALSE(WmiHasFailed(header));
    }
    EXPECT_EQ(responder.nExchanges, 3);
    EXPECT_EQ(responder.argsReceived.size(), 3u);

    responder.nCompleteAfter = 0; // never
    Exchange exchange;
    responder.Process(exchange.arg.data(), exchange.payload.data());
    EXPECT_FALSE(WmiIsComplete(exchange.Header()));
}

TEST(WmiTestResponder, ErrorMarkerAndPayloadOnDemand)
{
    WmiTestResponder responder;
    responder.blFail = true;
    responder.bErrorCode = 4;
    responder.blLeaveParamWord = true;
    responder.payloadChanges = {{1, 0x01}, {5000, 0x02}}; // past the payload: ignored
    Exchange exchange;
    responder.Process(exchange.arg.data(), exchange.payload.data());
    WmiCallHeader header = exchange.Header();
    EXPECT_EQ(+header.Status, 0x82);
    EXPECT_EQ(+header.ErrorCode, 4);
    EXPECT_TRUE(WmiMarkerStanding(header));
    EXPECT_EQ(exchange.payload[0], 0x33);
    EXPECT_EQ(exchange.payload[1], 0x01);
    EXPECT_EQ(responder.payloadsReceived[0][1], 0x33); // recorded as it arrived
}

TEST(WmiTestResponder, IgnoresWhatIsNotARequest)
{
    WmiTestResponder responder;
    Exchange exchange;
    exchange.arg[0] = 0x67; // wrong signature
    std::vector<uint8_t> before = exchange.arg;
    responder.Process(exchange.arg.data(), exchange.payload.data());
    EXPECT_EQ(exchange.arg, before);
    EXPECT_EQ(responder.nExchanges, 1);
}
