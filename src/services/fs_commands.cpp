#include "services/fs_commands.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace telvane {

namespace {
constexpr const char* kZeroFreeSpace = "Zero free space recv'd!\r\n";
constexpr std::size_t kSubcommandSize = 4;
// One-byte results some subcommands answer with.
constexpr std::uint8_t kWriteDone = 6;
constexpr std::uint8_t kFailed = 1;
constexpr std::uint8_t kVolumeRefused = 6;
} // namespace

bool FsCommands::nameAcceptable(std::string_view name, std::size_t overhead) const {
    if (name.empty() || name.size() + overhead > payload_.size()) return false;
    const std::uint32_t e = entrySize_.recordSize();
    return e == 0 || name.size() + fs::kNameOverhead <= e;
}

int FsCommands::send(std::size_t length, std::uint8_t* reply, std::size_t capacity) {
    return transport_.sendCommand(fs::kOpcode, payload_.data(), length, reply, capacity, replyLength_);
}

int FsCommands::sendPlain(std::size_t length) {
    replyLength_ = 0;
    reply_[0] = 0;
    if (send(length, reply_.data(), reply_.size()) != 0) return -1;
    if (replyLength_ == 1 || reply_[0] == kFailed) return -1;
    return 0;
}

int FsCommands::FsOpen(std::string_view name, std::uint32_t attribute) {
    if (!nameAcceptable(name, 8)) return -1;
    writeBe32(payload_.data(), fs::kOpen);
    writeBe32(payload_.data() + 4, attribute);
    std::memcpy(payload_.data() + 8, name.data(), name.size());
    replyLength_ = 0;
    return send(name.size() + 8, reply_.data(), reply_.size()) == 0 ? 0 : -1;
}

int FsCommands::FsRead(std::span<std::uint8_t> destination) {
    if (destination.empty()) return -1;
    std::size_t done = 0;
    while (done < destination.size()) {
        const std::uint32_t chunk =
            static_cast<std::uint32_t>(std::min<std::size_t>(destination.size() - done, fs::kMaxTransfer));
        writeBe32(payload_.data(), fs::kRead);
        writeBe32(payload_.data() + 4, chunk);
        replyLength_ = 0;
        if (send(8, reply_.data(), reply_.size()) != 0) return -1;
        // A short piece would leave a hole in the file: that is a failed read, not a shorter file.
        if (replyLength_ < chunk) return -1;
        std::memcpy(destination.data() + done, reply_.data(), chunk);
        done += chunk;
    }
    return 0;
}

int FsCommands::FsWrite(std::span<const std::uint8_t> source) {
    std::size_t done = 0;
    while (done < source.size()) {
        const std::uint32_t chunk =
            static_cast<std::uint32_t>(std::min<std::size_t>(source.size() - done, fs::kMaxTransfer));
        writeBe32(payload_.data(), fs::kWrite);
        writeBe32(payload_.data() + 4, chunk);
        std::memcpy(payload_.data() + 8, source.data() + done, chunk);
        replyLength_ = 0;
        reply_[0] = 0;
        if (send(chunk + 8, reply_.data(), reply_.size()) != 0) return -1;
        if (replyLength_ == 1 && reply_[0] != kWriteDone) return -1;
        done += chunk;
    }
    return 0;
}

int FsCommands::FsSeek(std::uint32_t offset, std::uint8_t mode) {
    writeBe32(payload_.data(), fs::kSeek);
    writeBe32(payload_.data() + 4, offset);
    payload_[8] = mode;
    return sendPlain(9);
}

int FsCommands::FsClose() {
    writeBe32(payload_.data(), fs::kClose);
    return sendPlain(kSubcommandSize);
}

int FsCommands::FsDelete(std::string_view name) {
    if (!nameAcceptable(name, kSubcommandSize)) return -1;
    writeBe32(payload_.data(), fs::kDelete);
    std::memcpy(payload_.data() + kSubcommandSize, name.data(), name.size());
    return sendPlain(name.size() + kSubcommandSize);
}

int FsCommands::FsCount(std::uint16_t& count) {
    writeBe32(payload_.data(), fs::kCount);
    replyLength_ = 0;
    writeBe16(reply_.data(), 0xFFFF);
    if (send(kSubcommandSize, reply_.data(), reply_.size()) != 0 || replyLength_ < 2) return -1;
    count = readBe16(reply_.data());
    return 0;
}

int FsCommands::FsListChunk(std::span<std::uint8_t> chunk, std::uint32_t& length) {
    writeBe32(payload_.data(), fs::kListChunk);
    replyLength_ = 0;
    const int result = send(kSubcommandSize, chunk.data(), chunk.size());
    length = replyLength_;
    return result == 0 ? 0 : -1;
}

int FsCommands::FsVolumeName(std::span<char16_t, fs::kMaxVolumeUnits> target) {
    std::fill(target.begin(), target.end(), char16_t{0});
    writeBe32(payload_.data(), fs::kVolumeName);
    replyLength_ = 0;
    auto* bytes = reinterpret_cast<std::uint8_t*>(target.data());
    if (send(kSubcommandSize, bytes, fs::kVolumeNameBytes) != 0) return -1;
    if (replyLength_ == 1 || bytes[0] == kVolumeRefused) return -1;
    return 0;
}

int FsCommands::FsFreeSpace(std::span<const char16_t> volumeName, std::uint32_t& freeSpace) {
    std::fill(payload_.begin(), payload_.begin() + fs::kFreeSpacePayload, std::uint8_t{0});
    writeBe32(payload_.data(), fs::kFreeSpace);
    const std::size_t units = std::min(volumeName.size(), fs::kMaxVolumeUnits);
    for (std::size_t i = 0; i < units && volumeName[i] != 0; ++i)
        writeBe16(payload_.data() + kSubcommandSize + 2 * i, static_cast<std::uint16_t>(volumeName[i]));
    freeSpace = 0;
    // All four bytes, not only the first: a reply shorter than four must not pick up the
    // previous command's bytes as part of the number.
    std::fill(reply_.begin(), reply_.begin() + 4, std::uint8_t{0});
    replyLength_ = 0;
    if (send(fs::kFreeSpacePayload, reply_.data(), reply_.size()) != 0 || replyLength_ == 1) return -1;
    freeSpace = readBe32(reply_.data());
    if (freeSpace == 0) {
        log_.appendLog(kZeroFreeSpace);
        return -1;
    }
    return 0;
}

} // namespace telvane
