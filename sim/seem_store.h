#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

namespace telvane::sim {

// The phone's seems: records addressed by (seem, record), records counting from 1. A record
// may be longer than one read reply can carry (4081 bytes after the result code): the phone
// answers it whole all the same, and the transfer cuts it short.
class SeemStore {
public:
    static constexpr std::size_t kMaxRecordBytes = 10000;

    // Sets a record's bytes; false for record 0 or too many bytes.
    bool put(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t> bytes);
    // Writes bytes into a record at offset: offset 0 replaces the record, a later offset patches
    // it (growing it as needed, never past the limit). A missing record is created. false when
    // refused.
    bool write(std::uint16_t seem, std::uint16_t record, std::uint16_t offset, std::span<const std::uint8_t> bytes);
    // The record, or null when the phone has none there.
    const std::vector<std::uint8_t>* get(std::uint16_t seem, std::uint16_t record) const;
    std::size_t size() const { return records_.size(); }

private:
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::vector<std::uint8_t>> records_;
};

} // namespace telvane::sim
