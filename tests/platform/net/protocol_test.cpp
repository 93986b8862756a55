#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/net/protocol.h"

using namespace platform;

static JoinRequest SampleRequest()
{
    JoinRequest request;
    request.application = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    request.password = "pass";
    request.playerName = "\x83\x76\x83\x8C\x83\x43\x83\x84\x81\x5B";  // Shift-JIS bytes pass unchanged
    return request;
}

TEST(NetProtocol, JoinRequestRoundTrips)
{
    JoinRequest request = SampleRequest();
    std::vector<uint8_t> bytes = EncodeJoinRequest(request);
    ASSERT_FALSE(bytes.empty());
    JoinRequest decoded;
    ASSERT_TRUE(DecodeJoinRequest(bytes.data(), bytes.size(), &decoded));
    EXPECT_EQ(decoded.application, request.application);
    EXPECT_EQ(decoded.password, request.password);
    EXPECT_EQ(decoded.playerName, request.playerName);
}

TEST(NetProtocol, JoinReplyRoundTrips)
{
    JoinReply reply;
    reply.result = NetResult::InvalidPassword;
    reply.player = 7;
    std::vector<uint8_t> bytes = EncodeJoinReply(reply);
    JoinReply decoded;
    ASSERT_TRUE(DecodeJoinReply(bytes.data(), bytes.size(), &decoded));
    EXPECT_EQ(decoded.result, NetResult::InvalidPassword);
    EXPECT_EQ(decoded.player, 7u);
}

TEST(NetProtocol, RejectsEveryTruncationAndTrailingByte)
{
    std::vector<uint8_t> bytes = EncodeJoinRequest(SampleRequest());
    JoinRequest decoded;
    for (size_t size = 0; size < bytes.size(); ++size) {
        EXPECT_FALSE(DecodeJoinRequest(bytes.data(), size, &decoded)) << size;
    }
    bytes.push_back(0);
    EXPECT_FALSE(DecodeJoinRequest(bytes.data(), bytes.size(), &decoded));
    EXPECT_FALSE(DecodeJoinRequest(nullptr, 0, &decoded));

    std::vector<uint8_t> reply = EncodeJoinReply(JoinReply{});
    JoinReply replyOut;
    for (size_t size = 0; size < reply.size(); ++size) {
        EXPECT_FALSE(DecodeJoinReply(reply.data(), size, &replyOut)) << size;
    }
}

TEST(NetProtocol, RejectsHostileFields)
{
    std::vector<uint8_t> good = EncodeJoinRequest(SampleRequest());
    JoinRequest decoded;
    // Text length that runs past the packet: the password length field sits
    // after the 6-byte header and the 16-byte id.
    std::vector<uint8_t> bytes = good;
    bytes[22] = 0x00;
    bytes[23] = 0x01;
    EXPECT_FALSE(DecodeJoinRequest(bytes.data(), bytes.size(), &decoded));
    // Longer than any text we carry, even with the bytes present.
    bytes[22] = 0xFF;
    bytes[23] = 0xFF;
    bytes.resize(bytes.size() + 0xFFFF, 'x');
    EXPECT_FALSE(DecodeJoinRequest(bytes.data(), bytes.size(), &decoded));
    bytes = good;
    bytes[0] = 'X';
    EXPECT_FALSE(DecodeJoinRequest(bytes.data(), bytes.size(), &decoded));
    bytes = good;
    bytes[4] = kProtocolVersion + 1;
    EXPECT_FALSE(DecodeJoinRequest(bytes.data(), bytes.size(), &decoded));
    // A reply is not a request.
    std::vector<uint8_t> reply = EncodeJoinReply(JoinReply{});
    EXPECT_FALSE(DecodeJoinRequest(reply.data(), reply.size(), &decoded));
    // A result past the known ones.
    reply[6] = 0xEE;
    JoinReply replyOut;
    EXPECT_FALSE(DecodeJoinReply(reply.data(), reply.size(), &replyOut));
}

TEST(NetProtocol, RefusesOversizedTexts)
{
    JoinRequest request = SampleRequest();
    request.password.assign(Peer::kMaxTextBytes + 1, 'p');
    EXPECT_TRUE(EncodeJoinRequest(request).empty());
    request.password.assign(Peer::kMaxTextBytes, 'p');
    request.playerName.assign(Peer::kMaxTextBytes, 'n');
    std::vector<uint8_t> bytes = EncodeJoinRequest(request);
    JoinRequest decoded;
    ASSERT_TRUE(DecodeJoinRequest(bytes.data(), bytes.size(), &decoded));
    EXPECT_EQ(decoded.password.size(), Peer::kMaxTextBytes);
    // The longest request there is, which the packet limit must let pass.
    EXPECT_EQ(bytes.size(), kMaxJoinRequestBytes);
}
