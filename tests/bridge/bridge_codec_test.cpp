#include "bridge/bridge_codec.h"

#include <gtest/gtest.h>

#include "bridge_peers.h"

namespace telvane::bridge {
namespace {

using test::message;
using test::rawMessage;
using Bytes = std::vector<std::uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Decodes a whole message as a request.
std::optional<Request> asRequest(const Bytes& bytes) {
    auto split = splitFrame(bytes);
    if (split.status != FrameStatus::Complete || split.consumed != bytes.size()) return std::nullopt;
    return decodeRequest(split.type, split.body);
}
std::optional<Response> asResponse(const Request& request, const Bytes& bytes) {
    auto split = splitFrame(bytes);
    if (split.status != FrameStatus::Complete || split.consumed != bytes.size()) return std::nullopt;
    return decodeResponse(request, split.type, split.body);
}

IoctlRequest sampleIoctl() {
    return IoctlRequest{7, 0x80002014, 4101, 40000, {0xC1, 0, 0, 0, 8, 0, 8, 0, 0}};
}

TEST(BridgeCodec, EveryRequest_RoundTrips) {
    const std::vector<Request> requests = {
        ModemPortRequest{},
        ModemWriteRequest{"COM7", {'a', 't', '\r', '\n'}},
        ListInterfacesRequest{},
        OpenRequest{"\\\\?\\usb#vid_fffe"},
        sampleIoctl(),
        CloseRequest{0xFFFFFFFF},
        WaitRemovalRequest{""},
        HelloRequest{0xFEDCBA9876543210, 5000},
    };
    for (const auto& request : requests) {
        auto bytes = encodeRequest(request);
        ASSERT_TRUE(bytes) << request.index();
        EXPECT_EQ(static_cast<std::uint8_t>(typeOf(request)), (*bytes)[4]);
        EXPECT_EQ(request, asRequest(*bytes)) << request.index();
    }
}

TEST(BridgeCodec, EveryResponse_RoundTripsAgainstItsRequest) {
    const std::vector<std::pair<Request, Response>> pairs = {
        {ModemPortRequest{}, ModemPortResponse{"COM4"}},
        {ModemPortRequest{}, ModemPortResponse{""}},
        {ModemWriteRequest{}, ModemWriteResponse{true}},
        {ListInterfacesRequest{}, ListInterfacesResponse{{"a", "", "long path"}}},
        {OpenRequest{}, OpenResponse{0x01020304}},
        {sampleIoctl(), IoctlResponse{IoctlOutcome::Completed, Bytes(4101, 0x5A)}},
        {sampleIoctl(), IoctlResponse{IoctlOutcome::TimedOut, {}}},
        {OpenRequest{}, OpenResponse{0, true}},
        {CloseRequest{}, CloseResponse{}},
        {WaitRemovalRequest{}, WaitRemovalResponse{}},
        {HelloRequest{}, HelloResponse{}},
    };
    for (const auto& [request, response] : pairs) {
        auto bytes = encodeResponse(response);
        ASSERT_TRUE(bytes) << response.index();
        EXPECT_EQ(static_cast<std::uint8_t>(typeOf(request)) | kResponseBit, (*bytes)[4]);
        EXPECT_EQ(response, asResponse(request, *bytes)) << response.index();
    }
}

// Peers written in other languages see exactly these bytes.
TEST(BridgeCodec, IoctlRequest_HasTheAgreedLayout) {
    const Bytes expected = {0, 0, 0, 0x17, 0x05,                // LENGTH 23, TYPE
                            0, 0, 0, 7, 0x80, 0, 0x20, 0x14,     // handle, code
                            0, 0, 0x10, 0x05, 0, 0, 0x9C, 0x40,  // capacity 4101, limit 40000
                            0, 0, 0, 2, 0xC1, 0x00};             // blob
    EXPECT_EQ(expected, encodeRequest(IoctlRequest{7, 0x80002014, 4101, 40000, {0xC1, 0x00}}));
    EXPECT_EQ(Bytes({0, 0, 0, 7, 0x83, 0, 1, 0, 2, 'p', '1'}), encodeResponse(ListInterfacesResponse{{"p1"}}));
}

TEST(BridgeCodec, HelloAndInUse_HaveTheAgreedLayout) {
    EXPECT_EQ(Bytes({0, 0, 0, 0x0D, 0x08, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0x13, 0x88}),
              encodeRequest(HelloRequest{0x0102030405060708, 5000}));
    EXPECT_EQ(Bytes({0, 0, 0, 1, 0x88}), encodeResponse(HelloResponse{}));
    EXPECT_EQ(Bytes({0, 0, 0, 5, 0x84, 0, 0, 0, 9}), encodeResponse(OpenResponse{9}));
    EXPECT_EQ(Bytes({0, 0, 0, 6, 0x84, 0, 0, 0, 0, 1}), encodeResponse(OpenResponse{0, true}));
    // An interface in use was not opened: no handle goes with the mark.
    EXPECT_FALSE(encodeResponse(OpenResponse{9, true}));
    EXPECT_FALSE(asResponse(OpenRequest{}, message(0x84, {0, 0, 0, 9, 1})));
    EXPECT_FALSE(asResponse(OpenRequest{}, message(0x84, {0, 0, 0, 0, 0}))); // a mark is 1 or absent
    EXPECT_FALSE(asResponse(OpenRequest{}, message(0x84, {0, 0, 0, 0, 2})));
    EXPECT_FALSE(asResponse(OpenRequest{}, message(0x84, {0, 0, 0, 0, 1, 1})));
}

TEST(BridgeCodec, Framing_BoundsLengthAndWaitsForWholeMessages) {
    EXPECT_EQ(FrameStatus::Incomplete, splitFrame(Bytes{0, 0, 0}).status);
    EXPECT_EQ(FrameStatus::Incomplete, splitFrame(rawMessage(3, 0x01, {0})).status);
    EXPECT_EQ(FrameStatus::Invalid, splitFrame(rawMessage(0, 0x01)).status);
    EXPECT_EQ(FrameStatus::Invalid, splitFrame(rawMessage(kMaxMessageLength + 1, 0x01)).status);
    EXPECT_EQ(FrameStatus::Invalid, splitFrame(rawMessage(0xFFFFFFFF, 0x01)).status);

    // Exactly the bound is allowed; two messages back to back are taken one at a time.
    const Bytes big = message(0x02, Bytes(kMaxMessageLength - 1, 0));
    EXPECT_EQ(FrameStatus::Complete, splitFrame(big).status);
    const Bytes two = concat({message(0x01), message(0x06, {0, 0, 0, 1})});
    auto first = splitFrame(two);
    ASSERT_EQ(FrameStatus::Complete, first.status);
    EXPECT_EQ(5u, first.consumed);
    auto second = splitFrame(std::span<const std::uint8_t>(two).subspan(first.consumed));
    EXPECT_EQ(0x06, second.type);
    EXPECT_EQ(4u, second.body.size());
}

TEST(BridgeCodec, MalformedRequests_AreRefused) {
    EXPECT_FALSE(asRequest(message(0x06, {0, 0, 0})));          // Close missing a byte
    EXPECT_FALSE(asRequest(message(0x06, {0, 0, 0, 1, 9})));    // Close with a byte too many
    EXPECT_FALSE(asRequest(message(0x01, {0})));                // ModemPort takes no body
    EXPECT_FALSE(asRequest(message(0x04, {0, 5, 'a', 'b'})));   // str longer than what follows
    EXPECT_FALSE(asRequest(message(0x02, {0, 0, 0xFF, 0xFF, 0xFF, 0xFF}))); // blob count beyond the body
    EXPECT_FALSE(asRequest(message(0x09)));                     // unknown TYPE
    EXPECT_FALSE(asRequest(message(0x08, Bytes(11, 0))));       // Hello missing a byte
    EXPECT_FALSE(asRequest(message(0x81)));                     // a response is no request
    EXPECT_FALSE(asRequest(message(0x00)));
}

TEST(BridgeCodec, MalformedResponses_AreRefused) {
    const IoctlRequest ioctl{1, 2, 4, 5, {}};
    EXPECT_FALSE(asResponse(ioctl, message(0x84, {0, 0, 0, 0, 0})));          // answers another request
    EXPECT_FALSE(asResponse(ioctl, message(0x85, {0, 0, 0, 0, 5, 1, 2, 3, 4, 5}))); // more than the capacity
    EXPECT_TRUE(asResponse(ioctl, message(0x85, {0, 0, 0, 0, 4, 1, 2, 3, 4})));     // exactly the capacity
    EXPECT_FALSE(asResponse(ioctl, message(0x85, {3, 0, 0, 0, 0})));          // no such outcome
    EXPECT_FALSE(asResponse(ioctl, message(0x85, {1, 0, 0, 0, 1, 9})));       // output without completion
    EXPECT_FALSE(asResponse(ioctl, message(0x85, {0, 0, 0, 0, 2, 1})));       // blob cut short
    EXPECT_FALSE(asResponse(ModemWriteRequest{}, message(0x82, {2})));        // ok is 0 or 1
    EXPECT_FALSE(asResponse(CloseRequest{}, message(0x86, {0})));             // trailing byte
    EXPECT_FALSE(asResponse(OpenRequest{}, message(0xFF, {0, 0})));           // the server's refusal
    // A count of 65535 paths in a tiny body fails without reserving room for them all.
    EXPECT_FALSE(asResponse(ListInterfacesRequest{}, message(0x83, {0xFF, 0xFF, 0, 0})));
}

TEST(BridgeCodec, FieldsTooLongToCarry_AreNotEncoded) {
    EXPECT_FALSE(encodeRequest(OpenRequest{std::string(0x10000, 'x')}));
    EXPECT_TRUE(encodeRequest(OpenRequest{std::string(0xFFFF, 'x')}));
    EXPECT_FALSE(encodeRequest(ModemWriteRequest{"COM1", Bytes(kMaxMessageLength, 0)}));
    // A refusal's message is cut to fit rather than lost.
    auto error = encodeError(std::string(0x10005, 'e'));
    auto split = splitFrame(error);
    EXPECT_EQ(std::string(0xFFFF, 'e'), decodeError(split.type, split.body));
}

} // namespace
} // namespace telvane::bridge
