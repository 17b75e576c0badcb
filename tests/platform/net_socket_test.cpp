#include "platform/net_socket.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace telvane::net {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 9));
    return bytes;
}

// Both ends of one loopback connection.
struct Connection {
    Connection() {
        listener = Listener::listenLoopback(0);
        client = Socket::connectTo("127.0.0.1", listener.port(), 2000);
        server = listener.accept(2000);
    }
    Listener listener;
    Socket client;
    Socket server;
};

TEST(NetSocket, PiecesSentTogether_ArriveWholeAndInOrderWhateverSizesAreAskedFor) {
    Connection c;
    ASSERT_TRUE(c.client.valid());
    ASSERT_TRUE(c.server.valid());
    // A length field and a short body in one write, then a body larger than one receive asks for.
    const Bytes field = pattern(4, 1);
    const Bytes shortBody = pattern(1030, 2);
    const Bytes longBody = pattern(70000, 3);
    Bytes all = field;
    all.insert(all.end(), shortBody.begin(), shortBody.end());
    all.insert(all.end(), longBody.begin(), longBody.end());
    ASSERT_TRUE(c.client.sendAll(all));

    Bytes got(4);
    ASSERT_EQ(RecvStatus::Ok, c.server.recvExact(got, 2000));
    EXPECT_EQ(field, got);
    EXPECT_TRUE(c.server.waitReadable(0));
    got.assign(shortBody.size(), 0);
    ASSERT_EQ(RecvStatus::Ok, c.server.recvExact(got, 2000));
    EXPECT_EQ(shortBody, got);
    got.assign(longBody.size(), 0);
    ASSERT_EQ(RecvStatus::Ok, c.server.recvExact(got, std::nullopt));
    EXPECT_EQ(longBody, got);

    // Nothing more: a wait ends at its deadline, then the peer's close is seen.
    Bytes one(1);
    EXPECT_FALSE(c.server.waitReadable(20));
    EXPECT_EQ(RecvStatus::TimedOut, c.server.recvExact(one, 50));
    c.client.close();
    EXPECT_EQ(RecvStatus::Closed, c.server.recvExact(one, 2000));
}

TEST(NetSocket, ABodyCutShort_IsClosedNotOk) {
    Connection c;
    ASSERT_TRUE(c.server.valid());
    ASSERT_TRUE(c.client.sendAll(pattern(10, 4)));
    c.client.close();
    Bytes got(20);
    EXPECT_EQ(RecvStatus::Closed, c.server.recvExact(got, 2000));
}

} // namespace
} // namespace telvane::net
