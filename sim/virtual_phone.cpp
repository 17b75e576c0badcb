#include "sim/virtual_phone.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "common/byte_reader.h"

namespace telvane::sim {

namespace {

constexpr std::uint16_t kModelSeem = 0x0117;
constexpr std::uint16_t kModelRecord = 1;
constexpr std::size_t kChunkHeaderSize = 4;
constexpr std::size_t kVolumeReplyLimit = 256;
constexpr std::uint8_t kWriteDone = 6;
constexpr std::uint8_t kRefused = 1;
constexpr std::uint8_t kSeemAbsent = 1;

PhoneReply noData() { return {status::kDoneNoData, {}}; }
PhoneReply withData(std::vector<std::uint8_t> data) { return {status::kDoneWithData, std::move(data)}; }
PhoneReply oneByte(std::uint8_t b) { return withData({b}); }
PhoneReply failed(std::uint8_t s) { return {s, {}}; }

std::vector<std::uint8_t> utf16be(std::string_view text, bool terminate) {
    std::vector<std::uint8_t> out;
    for (unsigned char c : text) {
        out.push_back(0);
        out.push_back(c);
    }
    if (terminate) out.insert(out.end(), {0, 0});
    return out;
}

std::uint32_t faultValue(const FaultRule& rule, std::uint32_t fallback) { return rule.hasValue ? rule.value : fallback; }

bool hits(const std::optional<FaultRule>& fault, FaultKind kind) { return fault && fault->kind == kind; }

} // namespace

VirtualPhone::VirtualPhone() : VirtualPhone(treePhoneProfile()) {}

VirtualPhone::VirtualPhone(const PhoneProfile& profile)
    : files_(profile.freeSpace, profile.entrySize - 8), volume_(profile.volume), entrySize_(profile.entrySize),
      recordsPerChunk_(1), restartDrops_(profile.restartDropsLink) {
    setRecordsPerChunk(profile.recordsPerChunk);
    for (const auto& f : profile.files) files_.add(f);
    seems_.put(kModelSeem, kModelRecord, utf16be(profile.model, true));
    // A seem given outright wins over the model line.
    for (const auto& s : profile.seems) seems_.put(s.seem, s.record, s.bytes);
}

void VirtualPhone::setRecordsPerChunk(std::uint32_t n) {
    recordsPerChunk_ = std::clamp<std::uint32_t>(n, 1, maxRecordsPerChunk(entrySize_));
}

PhoneReply VirtualPhone::handleCommand(std::uint16_t op, std::span<const std::uint8_t> payload,
                                       const std::optional<FaultRule>& fault) {
    switch (op) {
    case opcode::kSuspend:
        if (payload.size() != 1) return failed(status::kInvalidDataLength);
        ++suspendCount_;
        return noData();
    case opcode::kRestart:
        if (!payload.empty()) return failed(status::kInvalidDataLength);
        ++restartCount_;
        // A restart forgets the open file and any listing under way.
        files_.reset();
        listingStarted_ = false;
        dropRequested_ = restartDrops_;
        return noData();
    case opcode::kFileSystem:
        return fileCommand(payload, fault);
    case opcode::kSeemRead:
        return seemRead(payload);
    case opcode::kSeemWrite:
        return seemWrite(payload, fault);
    default:
        return failed(status::kUnsupportedOpcode);
    }
}

PhoneReply VirtualPhone::fileCommand(std::span<const std::uint8_t> payload, const std::optional<FaultRule>& fault) {
    ByteReader in(payload);
    const std::uint32_t sub = in.be32();
    if (!in.ok()) return failed(status::kInvalidDataLength);

    switch (sub) {
    case fscmd::kOpen: {
        const std::uint32_t attribute = in.be32();
        if (!in.ok()) return failed(status::kInvalidDataLength);
        auto name = in.bytes(in.remaining());
        const std::string_view text(reinterpret_cast<const char*>(name.data()), name.size());
        return files_.open(text, attribute) == FsOutcome::Ok ? noData() : failed(status::kGenericFailure);
    }
    case fscmd::kRead: {
        const std::uint32_t count = in.be32();
        if (!in.ok() || !in.atEnd()) return failed(status::kInvalidDataLength);
        std::vector<std::uint8_t> bytes;
        if (files_.read(std::min<std::uint32_t>(count, kMaxReplyData), bytes) != FsOutcome::Ok)
            return failed(status::kGenericFailure);
        if (hits(fault, FaultKind::ShortRead)) {
            const std::size_t cut = std::min<std::size_t>(faultValue(*fault, 1), bytes.size());
            bytes.resize(bytes.size() - cut);
        }
        return withData(std::move(bytes));
    }
    case fscmd::kWrite: {
        const std::uint32_t count = in.be32();
        if (!in.ok() || count != in.remaining()) return failed(status::kInvalidDataLength);
        return files_.write(in.bytes(count)) == FsOutcome::Ok ? oneByte(kWriteDone) : oneByte(kRefused);
    }
    case fscmd::kSeek: {
        const std::uint32_t offset = in.be32();
        const std::uint8_t mode = in.u8();
        if (!in.ok() || !in.atEnd()) return failed(status::kInvalidDataLength);
        return files_.seek(offset, mode) == FsOutcome::Ok ? noData() : oneByte(kRefused);
    }
    case fscmd::kClose:
        if (!in.atEnd()) return failed(status::kInvalidDataLength);
        return files_.close() == FsOutcome::Ok ? noData() : oneByte(kRefused);
    case fscmd::kDelete: {
        auto name = in.bytes(in.remaining());
        const std::string_view text(reinterpret_cast<const char*>(name.data()), name.size());
        return files_.remove(text) == FsOutcome::Ok ? noData() : oneByte(kRefused);
    }
    case fscmd::kCount:
        if (!in.atEnd()) return failed(status::kInvalidDataLength);
        return listCount(fault);
    case fscmd::kListChunk:
        if (!in.atEnd()) return failed(status::kInvalidDataLength);
        return listChunk(fault);
    case fscmd::kVolumeName:
        if (!in.atEnd()) return failed(status::kInvalidDataLength);
        return volumeName();
    case fscmd::kFreeSpace:
        if (in.remaining() != 512 - 4) return failed(status::kInvalidDataLength);
        return freeSpace(in.bytes(in.remaining()), fault);
    default:
        return failed(status::kInvalidParameter);
    }
}

std::vector<std::uint8_t> VirtualPhone::encodeRecord(const PhoneFile& file) const {
    std::vector<std::uint8_t> record(entrySize_, 0);
    std::memcpy(record.data(), file.name.data(), std::min<std::size_t>(file.name.size(), entrySize_ - 8));
    std::uint8_t* tail = record.data() + entrySize_ - 8;
    writeBe16(tail, file.attribute);
    writeBe16(tail + 2, file.second);
    writeBe32(tail + 4, static_cast<std::uint32_t>(file.bytes.size()));
    return record;
}

void VirtualPhone::snapshotList() {
    listing_.clear();
    for (const auto& f : files_.files()) listing_.push_back(encodeRecord(f));
    listed_ = 0;
    listingStarted_ = true;
}

PhoneReply VirtualPhone::listCount(const std::optional<FaultRule>& fault) {
    snapshotList();
    if (hits(fault, FaultKind::ListedSize))
        for (auto& record : listing_) writeBe32(record.data() + entrySize_ - 4, faultValue(*fault, 0));
    std::uint16_t count = static_cast<std::uint16_t>(listing_.size());
    if (hits(fault, FaultKind::FileCount)) count = static_cast<std::uint16_t>(faultValue(*fault, 0));
    std::vector<std::uint8_t> data(2);
    writeBe16(data.data(), count);
    return withData(std::move(data));
}

PhoneReply VirtualPhone::listChunk(const std::optional<FaultRule>& fault) {
    if (!listingStarted_) snapshotList();
    std::size_t recordBytes = entrySize_;
    if (hits(fault, FaultKind::BadEntrySize)) recordBytes = faultValue(*fault, 100);
    // Never more than one reply carries, whatever the record size.
    std::size_t n = std::min<std::size_t>(recordsPerChunk_, listing_.size() - listed_);
    if (recordBytes > 0) n = std::min(n, (kMaxReplyData - kChunkHeaderSize) / recordBytes);

    std::vector<std::uint8_t> data(kChunkHeaderSize, 0);
    writeBe16(data.data(), static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::uint8_t> record = listing_[listed_ + i];
        record.resize(recordBytes, 0);
        data.insert(data.end(), record.begin(), record.end());
    }
    listed_ += n;
    return withData(std::move(data));
}

PhoneReply VirtualPhone::volumeName() const {
    std::vector<std::uint8_t> data = utf16be(volume_, true);
    if (data.size() > kVolumeReplyLimit) data.resize(kVolumeReplyLimit);
    return withData(std::move(data));
}

PhoneReply VirtualPhone::freeSpace(std::span<const std::uint8_t> names, const std::optional<FaultRule>& fault) const {
    // The volume asked about: units up to the first 0.
    std::string asked;
    for (std::size_t i = 0; i + 1 < names.size(); i += 2) {
        const std::uint16_t unit = readBe16(names.data() + i);
        if (unit == 0) break;
        asked.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    }
    if (asked != volume_) return oneByte(kRefused);
    std::vector<std::uint8_t> data(4);
    writeBe32(data.data(), hits(fault, FaultKind::ZeroFreeSpace) ? 0 : files_.freeSpace());
    return withData(std::move(data));
}

PhoneReply VirtualPhone::seemRead(std::span<const std::uint8_t> payload) const {
    ByteReader in(payload);
    const std::uint16_t seem = in.be16();
    const std::uint16_t record = in.be16();
    const std::uint16_t offset = in.be16();
    const std::uint16_t length = in.be16();
    if (!in.ok() || !in.atEnd()) return failed(status::kInvalidDataLength);
    const std::vector<std::uint8_t>* stored = seems_.get(seem, record);
    if (stored == nullptr || offset > stored->size()) return oneByte(kSeemAbsent);
    // Length 0 asks for the rest of the record.
    const std::size_t available = stored->size() - offset;
    if (length > available) return oneByte(kSeemAbsent);
    const std::size_t n = length == 0 ? available : length;
    std::vector<std::uint8_t> data{0};
    data.insert(data.end(), stored->begin() + offset, stored->begin() + offset + n);
    return withData(std::move(data));
}

PhoneReply VirtualPhone::seemWrite(std::span<const std::uint8_t> payload, const std::optional<FaultRule>& fault) {
    ByteReader in(payload);
    const std::uint16_t seem = in.be16();
    const std::uint16_t record = in.be16();
    const std::uint16_t offset = in.be16();
    const std::uint16_t length = in.be16();
    if (!in.ok() || in.remaining() != length) return failed(status::kInvalidDataLength);
    const std::span<const std::uint8_t> data = in.bytes(length);
    std::vector<std::uint8_t> bytes(data.begin(), data.end());
    // A phone that says yes and keeps something else: only a read-back can tell.
    if (hits(fault, FaultKind::SeemFlip) && fault->value < bytes.size()) bytes[fault->value] ^= 0xFF;
    return oneByte(seems_.write(seem, record, offset, bytes) ? 0 : kRefused);
}

} // namespace telvane::sim
