#include "link/either_device_port.h"

namespace telvane {

EitherDevicePort::EitherDevicePort(std::unique_ptr<DevicePort> preferred, std::string preferredName,
                                   std::unique_ptr<DevicePort> other, std::string otherName,
                                   std::string otherUnavailable, LogSink& log)
    : preferred_(std::move(preferred)), preferredName_(std::move(preferredName)), other_(std::move(other)),
      otherName_(std::move(otherName)), otherUnavailable_(std::move(otherUnavailable)), log_(log) {}

std::string EitherDevicePort::modemPort() {
    std::string port = preferred_->modemPort();
    return port.empty() ? other_->modemPort() : port;
}

bool EitherDevicePort::writeModem(const std::string& port, std::span<const std::uint8_t> bytes) {
    // Only to the port one of them reports, and through that one.
    if (port.empty()) return false;
    if (preferred_->modemPort() == port) return preferred_->writeModem(port, bytes);
    if (other_->modemPort() == port) return other_->writeModem(port, bytes);
    return false;
}

std::vector<std::string> EitherDevicePort::listInterfaces() {
    DevicePort* from = preferred_.get();
    auto paths = preferred_->listInterfaces();
    if (paths.empty()) {
        from = other_.get();
        paths = other_->listInterfaces();
    }
    std::string say;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Kept for good: a phone's paths are as few as the sockets it was plugged into.
        for (const std::string& path : paths) listedBy_[path] = from;
        if (from != listing_) {
            if (from == preferred_.get())
                say = "Device: a phone on " + preferredName_;
            else if (otherUnavailable_.empty())
                say = "Device: no phone on " + preferredName_ + "; looking on " + otherName_;
            else
                say = "Device: no phone on " + preferredName_ + "; " + otherName_ + " unavailable: " + otherUnavailable_;
            listing_ = from;
        }
    }
    if (!say.empty()) log_.appendLog(say + "\r\n");
    return paths;
}

DevicePort& EitherDevicePort::portFor(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = listedBy_.find(path);
    return it != listedBy_.end() ? *it->second : *preferred_;
}

DeviceHandle EitherDevicePort::open(const std::string& path) { return tryOpen(path).handle; }

OpenResult EitherDevicePort::tryOpen(const std::string& path) {
    DevicePort& port = portFor(path);
    const OpenResult inner = port.tryOpen(path);
    if (inner.handle == 0) return {0, inner.outcome};
    std::lock_guard<std::mutex> lock(mutex_);
    const DeviceHandle handle = nextHandle_++;
    handles_[handle] = {&port, inner.handle};
    return {handle, OpenOutcome::Opened};
}

RequestResult EitherDevicePort::request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output, std::uint32_t limitMs) {
    Opened opened;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return {RequestOutcome::Failed, 0};
        opened = it->second;
    }
    return opened.port->request(opened.handle, code, input, output, limitMs);
}

void EitherDevicePort::close(DeviceHandle handle) {
    Opened opened;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return;
        opened = it->second;
        handles_.erase(it);
    }
    opened.port->close(opened.handle);
}

void EitherDevicePort::waitRemoval(const std::string& path) { portFor(path).waitRemoval(path); }

} // namespace telvane
