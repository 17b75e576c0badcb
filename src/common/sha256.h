#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace telvane {

// SHA-256 over bytes fed piece by piece, so a file of any size is hashed in one piece's memory.
// (No maintained hashing library builds for both the Linux and the MinGW targets from the
// distribution's packages; this is the standard algorithm, pinned by the published test vectors.)
class Sha256 {
public:
    Sha256();
    void update(std::span<const std::uint8_t> bytes);
    // The digest as 64 lower-case hexadecimal digits. The hash cannot be fed after this.
    std::string hexDigest();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0; // bytes fed
};

// The digest of one whole byte string.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

// True for 64 lower-case hexadecimal digits.
bool isSha256Hex(const std::string& text);

} // namespace telvane
