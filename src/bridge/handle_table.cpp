#include "bridge/handle_table.h"

#include <chrono>

namespace telvane {

bool HandleTable::heldByOtherLocked(const std::string& path, const ServedClient& client) const {
    auto it = claims_.find(path);
    return it != claims_.end() && it->second.owner.get() != &client;
}

bool HandleTable::reserve(const std::string& path, const std::shared_ptr<const ServedClient>& client,
                          std::uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool free = released_.wait_for(lock, std::chrono::milliseconds(waitMs),
                                         [&] { return shutdown_ || !heldByOtherLocked(path, *client); });
    if (!free || shutdown_) return false;
    Claim& claim = claims_[path];
    claim.owner = client;
    ++claim.holds;
    return true;
}

std::uint32_t HandleTable::add(const std::string& path, DeviceHandle handle,
                               std::shared_ptr<const ServedClient> owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Ids are not reused while open; 0 is never an id.
    while (nextId_ == 0 || handles_.count(nextId_) != 0) ++nextId_;
    const std::uint32_t id = nextId_++;
    handles_[id] = Held{handle, path, std::move(owner)};
    return id;
}

void HandleTable::release(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = claims_.find(path);
        if (it == claims_.end()) return;
        if (--it->second.holds > 0) return;
        claims_.erase(it);
    }
    released_.notify_all();
}

std::optional<DeviceHandle> HandleTable::find(std::uint32_t id, const ServedClient& asking) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(id);
    if (it == handles_.end() || !asking.mayUse(*it->second.owner)) return std::nullopt;
    return it->second.handle;
}

std::optional<HandleTable::Entry> HandleTable::take(std::uint32_t id, const ServedClient& asking) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(id);
    if (it == handles_.end() || !asking.mayUse(*it->second.owner)) return std::nullopt;
    Entry entry{id, it->second.handle, it->second.path};
    handles_.erase(it);
    return entry;
}

std::vector<HandleTable::Entry> HandleTable::takeAll(const ServedClient* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Entry> taken;
    for (auto it = handles_.begin(); it != handles_.end();) {
        if (owner != nullptr && it->second.owner.get() != owner) {
            ++it;
            continue;
        }
        taken.push_back(Entry{it->first, it->second.handle, it->second.path});
        it = handles_.erase(it);
    }
    return taken;
}

void HandleTable::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutdown_ = true;
    }
    released_.notify_all();
}

} // namespace telvane
