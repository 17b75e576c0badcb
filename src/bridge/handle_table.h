#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/client_directory.h"
#include "link/device_port.h"

namespace telvane {

// The bridge server's open handles and who holds each interface. An interface belongs to one
// client at a time, from the moment that client starts opening it until its last handle on it
// is closed: two programs never send commands through one phone interface in turn, since a
// command's control write and its reads must not be split by another program's write.
// Handles are the server's own u32 ids; the port's 64-bit handles never leave the server.
// Thread-safe. Calls of the port are the caller's business.
class HandleTable {
public:
    struct Entry {
        std::uint32_t id = 0;
        DeviceHandle handle = 0;
        std::string path;
    };

    // Holds the interface at path for client, waiting up to waitMs while another client holds
    // it. False when another still does (or the table was shut down): nothing is held then.
    bool reserve(const std::string& path, const std::shared_ptr<const ServedClient>& client, std::uint32_t waitMs);
    // The reservation has become an open handle: its id (never 0, not reused while open).
    std::uint32_t add(const std::string& path, DeviceHandle handle, std::shared_ptr<const ServedClient> owner);
    // Lets go of one hold on path: a reservation that opened nothing, or a handle taken from
    // the table that the port has now closed. The last one frees the interface for the others.
    void release(const std::string& path);

    // The handle behind id, when the asking client may use it.
    std::optional<DeviceHandle> find(std::uint32_t id, const ServedClient& asking);
    // Takes a handle out of the table, when the asking client may use it; its interface stays
    // held until release().
    std::optional<Entry> take(std::uint32_t id, const ServedClient& asking);
    // Takes every handle the client opened, or every handle when owner is null.
    std::vector<Entry> takeAll(const ServedClient* owner);

    // Ends every reserve() wait, and makes later ones fail at once.
    void shutdown();

private:
    struct Held {
        DeviceHandle handle = 0;
        std::string path;
        std::shared_ptr<const ServedClient> owner;
    };
    struct Claim {
        std::shared_ptr<const ServedClient> owner;
        std::size_t holds = 0; // reservations and handles not yet released
    };
    bool heldByOtherLocked(const std::string& path, const ServedClient& client) const;

    std::mutex mutex_;
    std::condition_variable released_;
    std::map<std::uint32_t, Held> handles_;
    std::map<std::string, Claim> claims_;
    std::uint32_t nextId_ = 1;
    bool shutdown_ = false;
};

} // namespace telvane
