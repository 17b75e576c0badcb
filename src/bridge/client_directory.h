#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace telvane {

// One client program as the bridge server sees it: every connection that said hello with the
// same id, or a single connection that never said hello (a client from before hello, which
// cannot tell its connections apart).
struct ServedClient {
    explicit ServedClient(std::optional<std::uint64_t> id) : id(id) {}
    const std::optional<std::uint64_t> id;

    // A client may use its own handles. Clients without hello may use each other's too: one
    // program of theirs opens on one connection and asks on another.
    bool mayUse(const ServedClient& owner) const { return this == &owner || (!id && !owner.id); }

private:
    friend class ClientDirectory;
    std::size_t connections_ = 0; // guarded by the directory's lock
};

// Which connections belong to which client, so that a client counts as gone once its last
// connection has closed. There is no grace after that: BridgeClient keeps a broken connection
// open until its replacement has said hello, so a program that is still running never drops to
// no connection, while one that has ended frees what it held at once.
class ClientDirectory {
public:
    // A connection that has said nothing yet: a client of its own.
    static std::shared_ptr<ServedClient> unnamed() { return std::make_shared<ServedClient>(std::nullopt); }
    // One more connection of the client with this id (a new client when it has none left).
    std::shared_ptr<ServedClient> join(std::uint64_t id);
    // One connection of this client has closed (an unnamed client's only one). True when that
    // was its last: the client is gone.
    bool leave(ServedClient& client);

private:
    std::mutex mutex_;
    std::map<std::uint64_t, std::shared_ptr<ServedClient>> named_;
};

} // namespace telvane
