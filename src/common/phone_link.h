#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace telvane {

// An open device as the device port knows it; 0 means none.
using DeviceHandle = std::uint64_t;

// The shared connection state. The watcher writes it; the window's thread reads the connected
// flag before each command and every driver request takes the handle from here.
class PhoneLink {
public:
    bool isConnected() const { return connected_.load() == 1; }
    void setConnected(bool on) { connected_.store(on ? 1 : 0); }

    DeviceHandle handle() const { return handle_.load(); }
    void setHandle(DeviceHandle h) { handle_.store(h); }

    // Counts connections and take-downs: every change of the open interface gives a new number,
    // so an operation can tell that the phone it began with is no longer the one attached.
    std::uint64_t generation() const { return generation_.load(); }
    // Publishes a newly opened command interface as the next connection. Caller holds requestMutex().
    void publish(DeviceHandle h, std::string path) {
        setDevicePath(std::move(path));
        handle_.store(h);
        generation_.fetch_add(1);
    }
    // Marks the interface gone and returns its handle for closing. Caller holds requestMutex().
    DeviceHandle withdraw() {
        const DeviceHandle h = handle_.exchange(0);
        connected_.store(0);
        setDevicePath(std::string());
        generation_.fetch_add(1);
        return h;
    }

    // Device path of the kept interface ("" while none is kept).
    std::string devicePath() const {
        std::lock_guard<std::mutex> lock(pathMutex_);
        return devicePath_;
    }
    void setDevicePath(std::string path) {
        std::lock_guard<std::mutex> lock(pathMutex_);
        devicePath_ = std::move(path);
    }

    // Held for the whole of every driver request, and by whoever closes the handle, so a
    // handle is never closed under a request in flight nor used after it was closed.
    std::mutex& requestMutex() { return requestMutex_; }

private:
    std::atomic<int> connected_{0};
    std::atomic<DeviceHandle> handle_{0};
    std::atomic<std::uint64_t> generation_{0};
    mutable std::mutex pathMutex_;
    std::string devicePath_;
    std::mutex requestMutex_;
};

} // namespace telvane
