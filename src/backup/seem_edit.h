#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::backup {

// One change to a seem record, as typed: OFFSET=BYTES ("1c=0a0b": bytes from offset 0x1c on) or
// OFFSET.BIT=0|1 ("1c.3=1": bit 3 of byte 0x1c, bit 0 the least significant). Hexadecimal.
struct SeemEdit {
    std::size_t offset = 0;
    std::vector<std::uint8_t> bytes; // OFFSET=BYTES
    std::optional<unsigned> bit;     // OFFSET.BIT=...
    bool bitValue = false;
};

// Nothing, with why in error, for a text that is no edit.
std::optional<SeemEdit> parseSeemEdit(std::string_view text, std::string& error);

// Applies every edit in order to a record; false, with error and the record untouched, when one
// reaches past the record's end.
bool applySeemEdits(std::vector<std::uint8_t>& record, const std::vector<SeemEdit>& edits, std::string& error);

// One byte that differs between two records of one size.
struct ByteChange {
    std::size_t offset = 0;
    std::uint8_t before = 0;
    std::uint8_t after = 0;
};
std::vector<ByteChange> diffRecords(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after);

// "001c: 0a -> 0b (bits 0,1)": a change as seem diff and seem set show it.
std::string changeLine(const ByteChange& change);

// The record as lines of 16 bytes: offset, the bytes, their printable characters; with bits, a
// line per byte after them: offset, the byte, its 8 bits (bit 7 first).
std::vector<std::string> hexDump(std::span<const std::uint8_t> bytes, bool bits);

// "seem 0032 record 0001".
std::string seemRecordLabel(std::uint16_t seem, std::uint16_t record);

} // namespace telvane::backup
