#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace telvane::net {

// The one place that knows POSIX sockets and Winsock apart. Blocking sockets; every wait has
// a deadline or can be woken by shutdown() from another thread.

#ifdef _WIN32
using NativeSocket = std::uintptr_t; // SOCKET
#else
using NativeSocket = int;
#endif

enum class RecvStatus {
    Ok,       // every byte asked for arrived
    Closed,   // the peer closed (or the socket was shut down) before they all arrived
    TimedOut, // the deadline passed first
    Failed,   // any other socket error
};

// One connected TCP stream. Move-only; closes on destruction.
class Socket {
public:
    Socket() = default;
    explicit Socket(NativeSocket s);
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Connects to host:port (a name or a numeric address), giving up after timeoutMs.
    // Sets TCP_NODELAY. An invalid socket when it cannot connect.
    static Socket connectTo(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs);

    bool valid() const;
    // Sends every byte, as one write where the system allows. false on any failure.
    bool sendAll(std::span<const std::uint8_t> bytes);
    // Receives exactly buffer.size() bytes; no timeout waits without limit.
    RecvStatus recvExact(std::span<std::uint8_t> buffer, std::optional<std::uint32_t> timeoutMs);
    // Waits up to timeoutMs until something can be read (data, or the peer's end). false when
    // the time ran out.
    bool waitReadable(std::uint32_t timeoutMs);
    // Ends both directions without closing: wakes a thread blocked in recvExact on this socket.
    void shutdown();
    void close();

private:
    // Moves bytes already received into the front of buffer; how many.
    std::size_t takeReceived(std::span<std::uint8_t> buffer);

    NativeSocket s_{};
    bool open_ = false;
    // Bytes received ahead of what was asked for. A message's length field and its body mostly
    // arrive together: one receive, and one wait, takes both.
    std::vector<std::uint8_t> received_;
    std::size_t receivedAt_ = 0;
    // The receive timeout armed on this socket where receives time out by themselves (0: none).
    std::uint32_t receiveTimeoutMs_ = 0;
};

// A listening socket: on the loopback interface unless an address is given.
class Listener {
public:
    Listener() = default;
    ~Listener();
    Listener(Listener&& other) noexcept;
    Listener& operator=(Listener&& other) noexcept;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Listens on 127.0.0.1:port; port 0 picks a free one. An invalid listener on failure.
    static Listener listenLoopback(std::uint16_t port);
    // Listens on a numeric IPv4 or IPv6 address ("0.0.0.0" and "::" for every interface).
    static Listener listenOn(const std::string& address, std::uint16_t port);

    bool valid() const { return open_; }
    // The port actually listened on.
    std::uint16_t port() const { return port_; }
    // Waits up to timeoutMs for a connection; an invalid socket when none came or on error.
    // The accepted socket has TCP_NODELAY set.
    Socket accept(std::uint32_t timeoutMs);
    void close();

private:
    NativeSocket s_{};
    bool open_ = false;
    std::uint16_t port_ = 0;
};

} // namespace telvane::net
