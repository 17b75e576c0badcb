#include "bridge/client_directory.h"

namespace telvane {

std::shared_ptr<ServedClient> ClientDirectory::join(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& client = named_[id];
    if (!client) client = std::make_shared<ServedClient>(id);
    ++client->connections_;
    return client;
}

bool ClientDirectory::leave(ServedClient& client) {
    if (!client.id) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (client.connections_ > 0 && --client.connections_ > 0) return false;
    // A hello with this id from now on starts a new client, which owns nothing of this one's.
    auto it = named_.find(*client.id);
    if (it != named_.end() && it->second.get() == &client) named_.erase(it);
    return true;
}

} // namespace telvane
