#include "sim/virtual_driver.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace telvane::sim {

const char* const kPhoneInterfacePath = "\\\\?\\usb#vid_fffe&pid_0002#virtual0001#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
const char* const kForeignInterfacePath = "\\\\?\\usb#vid_fffe&pid_0003#virtual0002#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
const char* const kPhoneInterfaceName = "Motorola Test Command";
const char* const kForeignInterfaceName = "Vendor Data Interface";
const char* const kModeSwitchCommand = "at+mode=8\r\n";

namespace {

constexpr std::uint32_t kControlCode = 0x80002014;
constexpr std::uint32_t kInterfaceStringCode = 0x80002010;
constexpr std::size_t kSetupSize = 8;
constexpr std::size_t kCommandHeaderSize = 8; // sequence, opcode, payload length, zero
constexpr std::size_t kDriverHeaderSize = 4;
constexpr std::size_t kPollDataSize = 8;
constexpr std::size_t kReplyPrefixSize = 6; // packet count and 3 bytes, then the packet of length L

// The driver's answer: a 4-byte header (the data stage's length, little-endian), then the data
// stage, cut to the room the caller offered.
RequestResult answer(std::span<std::uint8_t> output, std::span<const std::uint8_t> data) {
    if (output.size() < kDriverHeaderSize) return {RequestOutcome::Completed, 0};
    std::size_t n = std::min(data.size(), output.size() - kDriverHeaderSize);
    writeLe32(output.data(), static_cast<std::uint32_t>(n));
    if (n > 0) std::memcpy(output.data() + kDriverHeaderSize, data.data(), n);
    return {RequestOutcome::Completed, kDriverHeaderSize + n};
}

bool isPhoneLevel(FaultKind kind) {
    return kind == FaultKind::ZeroFreeSpace || kind == FaultKind::FileCount || kind == FaultKind::BadEntrySize ||
           kind == FaultKind::ShortRead || kind == FaultKind::ListedSize || kind == FaultKind::SeemFlip;
}

} // namespace

VirtualDriver::VirtualDriver(std::unique_ptr<VirtualPhone> phone) : phone_(std::move(phone)) {}

std::string VirtualDriver::modemPort() {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_ && mode_ == Mode::Modem ? modemPortName_ : std::string();
}

bool VirtualDriver::writeModem(const std::string& port, std::span<const std::uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text(bytes.begin(), bytes.end());
    modemWrites_.push_back(text);
    if (!plugged_ || mode_ != Mode::Modem || port != modemPortName_) return false;
    if (text == kModeSwitchCommand) mode_ = Mode::Command;
    return true;
}

std::vector<std::string> VirtualDriver::listInterfaces() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    if (foreign_) paths.emplace_back(kForeignInterfacePath);
    if (plugged_ && mode_ == Mode::Command) paths.emplace_back(kPhoneInterfacePath);
    return paths;
}

bool VirtualDriver::interfacePresentLocked(const std::string& path) const {
    if (path == kPhoneInterfacePath) return plugged_ && mode_ == Mode::Command;
    if (path == kForeignInterfacePath) return foreign_;
    return false;
}

DeviceHandle VirtualDriver::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!interfacePresentLocked(path)) return 0;
    DeviceHandle h = nextHandle_++;
    handles_[h] = Handle{path, generation_};
    openedAt_[path] = generation_;
    return h;
}

bool VirtualDriver::handleLiveLocked(DeviceHandle handle) const {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    if (it->second.path == kPhoneInterfacePath)
        return plugged_ && mode_ == Mode::Command && it->second.generation == generation_;
    return interfacePresentLocked(it->second.path);
}

void VirtualDriver::close(DeviceHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        if (closed_.count(handle)) ++closedHandleUses_;
        return;
    }
    closed_[handle] = it->second.path;
    handles_.erase(it);
}

void VirtualDriver::waitRemoval(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Gone since the latest open: absent now, or unplugged and plugged again in between.
    auto opened = openedAt_.find(path);
    const std::uint64_t since = opened != openedAt_.end() ? opened->second : generation_;
    removed_.wait(lock, [&] {
        if (shutdown_ || removalWatchBroken_ || !interfacePresentLocked(path)) return true;
        return path == kPhoneInterfacePath && generation_ != since;
    });
}

RequestResult VirtualDriver::request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                                     std::span<std::uint8_t> output, std::uint32_t limitMs) {
    (void)limitMs; // the model answers at once, or fails/times out on purpose
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_.count(handle)) ++closedHandleUses_;
    if (!handleLiveLocked(handle)) return {RequestOutcome::Failed, 0};
    if (code == kControlCode) return controlTransferLocked(input, output);
    if (code == kInterfaceStringCode) return interfaceStringLocked(handles_.at(handle).path, input, output);
    return {RequestOutcome::Failed, 0};
}

RequestResult VirtualDriver::controlTransferLocked(std::span<const std::uint8_t> input,
                                                   std::span<std::uint8_t> output) {
    if (input.size() < kSetupSize) return {RequestOutcome::Failed, 0};
    const std::uint8_t requestType = input[0];
    const std::uint8_t request = input[1];
    if (requestType == 0x41 && request == 0x02) return commandWriteLocked(input);
    if (requestType == 0xC1 && request == 0x00) {
        std::uint8_t data[kPollDataSize] = {};
        if (!pending_.empty()) {
            data[1] = 1;
            writeBe16(data + 2, static_cast<std::uint16_t>(pending_.front().packet.size() - kReplyPrefixSize));
        }
        return answer(output, data);
    }
    if (requestType == 0xC1 && request == 0x01) {
        if (pending_.empty()) return answer(output, {});
        PendingReply reply = std::move(pending_.front());
        pending_.pop_front();
        if (reply.failRead) return {RequestOutcome::Failed, 0};
        if (reply.timeoutRead) return {RequestOutcome::TimedOut, 0};
        const std::size_t wanted = readLe16(input.data() + 6);
        std::span<const std::uint8_t> packet(reply.packet);
        const RequestResult result = answer(output, packet.first(std::min(wanted, packet.size())));
        if (reply.dropAfterRead) {
            // A restarting phone leaves the bus and comes straight back as a new device.
            unplugLocked();
            plugLocked();
        }
        return result;
    }
    return {RequestOutcome::Failed, 0};
}

RequestResult VirtualDriver::commandWriteLocked(std::span<const std::uint8_t> input) {
    if (input.size() < kSetupSize + kCommandHeaderSize) return {RequestOutcome::Failed, 0};
    const std::uint16_t wLength = readLe16(input.data() + 6);
    const std::uint8_t* header = input.data() + kSetupSize;
    const std::uint16_t sequence = readBe16(header) & 0x0FFF;
    const std::uint16_t op = readBe16(header + 2) & 0x0FFF;
    const std::uint16_t payloadLength = readBe16(header + 4);

    PhoneReply reply;
    std::optional<FaultRule> fault;
    if (wLength < kCommandHeaderSize || input.size() < kSetupSize + wLength ||
        payloadLength != wLength - kCommandHeaderSize) {
        reply.status = status::kInvalidDataLength; // the frame contradicts itself
    } else {
        std::span<const std::uint8_t> payload = input.subspan(kSetupSize + kCommandHeaderSize, payloadLength);
        ++commands_;
        std::optional<std::uint32_t> subcommand;
        if (op == opcode::kFileSystem && payload.size() >= 4) subcommand = readBe32(payload.data());
        fault = faults_.match(commands_, op, subcommand);
        if (fault && fault->kind == FaultKind::WriteTimeout) return {RequestOutcome::TimedOut, 0};
        if (fault && fault->kind == FaultKind::WriteFail) return {RequestOutcome::Failed, 0};
        if (fault && fault->kind == FaultKind::Status) {
            reply.status = static_cast<std::uint8_t>(fault->value);
        } else {
            std::optional<FaultRule> phoneFault;
            if (fault && isPhoneLevel(fault->kind)) phoneFault = fault;
            reply = phone_->handleCommand(op, payload, phoneFault);
        }
    }

    // The whole answer goes into the packet, as a phone sends it; one longer than the host's read
    // can take arrives cut short, and the host must notice.
    const FaultKind kind = fault ? fault->kind : FaultKind::Status;
    const bool hit = fault.has_value();
    if (hit && kind == FaultKind::NoReply) return {RequestOutcome::Completed, 0};

    std::uint8_t status = reply.status;
    std::uint16_t dataLength = static_cast<std::uint16_t>(reply.data.size());
    std::uint16_t packetLength = static_cast<std::uint16_t>(8 + reply.data.size());
    std::uint16_t sequenceWord = static_cast<std::uint16_t>(0x8000 | sequence);
    std::uint8_t packetCount = 1;
    if (hit && kind == FaultKind::WrongSequence) sequenceWord = static_cast<std::uint16_t>(0x8000 | ((sequence + 1) & 0x0FFF));
    if (hit && kind == FaultKind::NotAReply) sequenceWord &= 0x7FFF;
    if (hit && kind == FaultKind::BadPacketCount) packetCount = static_cast<std::uint8_t>(fault->hasValue ? fault->value : 2);
    if (hit && kind == FaultKind::BadDataLength) {
        status = status::kDoneWithData;
        dataLength = static_cast<std::uint16_t>(dataLength + 1);
    }

    PendingReply pending;
    auto& p = pending.packet;
    p.assign(kReplyPrefixSize + 8, 0);
    p[0] = packetCount;
    writeBe16(p.data() + 4, packetLength);
    writeBe16(p.data() + 6, sequenceWord);
    p[8] = static_cast<std::uint8_t>(status << 4);
    writeBe16(p.data() + 10, dataLength);
    p.insert(p.end(), reply.data.begin(), reply.data.end());
    pending.failRead = hit && kind == FaultKind::ReadFail;
    pending.timeoutRead = hit && kind == FaultKind::ReadTimeout;
    pending.dropAfterRead = phone_->takeDropRequest();
    pending_.push_back(std::move(pending));

    if (hit && kind == FaultKind::Unplug) unplugLocked();
    return {RequestOutcome::Completed, 0};
}

RequestResult VirtualDriver::interfaceStringLocked(const std::string& path, std::span<const std::uint8_t> input,
                                                   std::span<std::uint8_t> output) {
    if (input.size() < 2) return {RequestOutcome::Failed, 0};
    const std::uint16_t index = readLe16(input.data());
    std::string name = "Virtual Phone";
    if (index == 2) name = path == kPhoneInterfacePath ? kPhoneInterfaceName : kForeignInterfaceName;
    // A 32-bit count, then UTF-16LE units; cut to the caller's room.
    std::vector<std::uint8_t> bytes(4 + 2 * name.size(), 0);
    writeLe32(bytes.data(), static_cast<std::uint32_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); ++i) bytes[4 + 2 * i] = static_cast<std::uint8_t>(name[i]);
    const std::size_t n = std::min(bytes.size(), output.size());
    std::memcpy(output.data(), bytes.data(), n);
    return {RequestOutcome::Completed, n};
}

void VirtualDriver::plug() {
    std::lock_guard<std::mutex> lock(mutex_);
    plugLocked();
}

void VirtualDriver::plugLocked() {
    if (plugged_) return;
    plugged_ = true;
    ++generation_;
    mode_ = modemPortName_.empty() ? Mode::Command : Mode::Modem;
}

void VirtualDriver::unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    unplugLocked();
}

void VirtualDriver::unplugLocked() {
    if (!plugged_) return;
    plugged_ = false;
    pending_.clear();
    removed_.notify_all();
}

bool VirtualDriver::isPlugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_;
}

void VirtualDriver::setModemPort(const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    modemPortName_ = port;
    // Takes effect at once: a phone set up this way before anyone talks to it starts as a modem.
    if (plugged_) mode_ = port.empty() ? Mode::Command : Mode::Modem;
    removed_.notify_all();
}

void VirtualDriver::shutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdown_ = true;
    removed_.notify_all();
}

void VirtualDriver::setForeignInterface(bool present) {
    std::lock_guard<std::mutex> lock(mutex_);
    foreign_ = present;
    removed_.notify_all();
}

void VirtualDriver::addFault(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.add(rule);
}

void VirtualDriver::clearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

std::uint32_t VirtualDriver::commandCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

void VirtualDriver::setRemovalWatchBroken(bool broken) {
    std::lock_guard<std::mutex> lock(mutex_);
    removalWatchBroken_ = broken;
    removed_.notify_all();
}

std::uint32_t VirtualDriver::closedHandleUses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closedHandleUses_;
}

std::uint32_t VirtualDriver::openHandleCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::uint32_t>(handles_.size());
}

std::uint64_t VirtualDriver::plugCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

std::vector<std::string> VirtualDriver::modemWrites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return modemWrites_;
}

} // namespace telvane::sim
