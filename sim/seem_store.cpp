#include "sim/seem_store.h"

#include <algorithm>

namespace telvane::sim {

bool SeemStore::put(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t> bytes) {
    if (record == 0 || bytes.size() > kMaxRecordBytes) return false;
    records_[{seem, record}] = std::move(bytes);
    return true;
}

bool SeemStore::write(std::uint16_t seem, std::uint16_t record, std::uint16_t offset,
                      std::span<const std::uint8_t> bytes) {
    if (record == 0 || std::size_t{offset} + bytes.size() > kMaxRecordBytes) return false;
    if (offset == 0) return put(seem, record, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    auto& stored = records_[{seem, record}];
    if (stored.size() < offset + bytes.size()) stored.resize(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), stored.begin() + offset);
    return true;
}

const std::vector<std::uint8_t>* SeemStore::get(std::uint16_t seem, std::uint16_t record) const {
    auto it = records_.find({seem, record});
    return it == records_.end() ? nullptr : &it->second;
}

} // namespace telvane::sim
