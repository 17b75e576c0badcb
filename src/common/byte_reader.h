#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/byte_order.h"

namespace telvane {

// Bounds-checked reader over untrusted bytes. The first read past the end sets the failure,
// which sticks: every later read yields zeros/empties, so a decoder checks ok() once at the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    std::size_t remaining() const { return ok_ ? bytes_.size() - pos_ : 0; }
    bool atEnd() const { return ok_ && pos_ == bytes_.size(); }

    std::uint8_t u8() {
        const std::uint8_t* p = take(1);
        return p ? p[0] : 0;
    }
    std::uint16_t be16() {
        const std::uint8_t* p = take(2);
        return p ? readBe16(p) : 0;
    }
    std::uint32_t be32() {
        const std::uint8_t* p = take(4);
        return p ? readBe32(p) : 0;
    }
    // The next n bytes, or an empty span (and failure) when fewer remain.
    std::span<const std::uint8_t> bytes(std::size_t n) {
        const std::uint8_t* p = take(n);
        return p ? std::span<const std::uint8_t>(p, n) : std::span<const std::uint8_t>();
    }

private:
    const std::uint8_t* take(std::size_t n) {
        if (!ok_ || n > bytes_.size() - pos_) {
            ok_ = false;
            return nullptr;
        }
        const std::uint8_t* p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Appends big-endian numbers and raw bytes to a growing buffer.
class ByteWriter {
public:
    void u8(std::uint8_t v) { out_.push_back(v); }
    void be16(std::uint16_t v) {
        std::uint8_t b[2];
        writeBe16(b, v);
        out_.insert(out_.end(), b, b + 2);
    }
    void be32(std::uint32_t v) {
        std::uint8_t b[4];
        writeBe32(b, v);
        out_.insert(out_.end(), b, b + 4);
    }
    void bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    std::vector<std::uint8_t>& data() { return out_; }
    std::vector<std::uint8_t> take() { return std::move(out_); }

private:
    std::vector<std::uint8_t> out_;
};

} // namespace telvane
