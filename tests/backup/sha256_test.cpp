#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/sha256.h"

namespace telvane {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Sha256, MatchesThePublishedVectors_WhateverPiecesTheBytesComeIn) {
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", sha256Hex({}));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", sha256Hex(bytesOf("abc")));
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"; // pads into a second block
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", sha256Hex(bytesOf(two)));

    const std::string million(1000000, 'a');
    Sha256 hash;
    for (std::size_t at = 0, piece = 1; at < million.size(); at += piece, piece = piece % 97 + 13)
        hash.update(bytesOf(million.substr(at, piece)));
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", hash.hexDigest());
    EXPECT_TRUE(isSha256Hex(sha256Hex({})));
    EXPECT_FALSE(isSha256Hex(std::string(64, 'A')));
}

} // namespace
} // namespace telvane
