#include "platform/net_socket.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace telvane::net {

namespace {

// A peer that stops reading must not hold a sender forever.
constexpr std::uint32_t kSendTimeoutMs = 10000;
// What one receive asks for when fewer bytes are missing: the rest waits for the next call.
constexpr std::size_t kReadAhead = 8192;

#ifdef _WIN32
using PollFd = WSAPOLLFD;
constexpr NativeSocket kInvalid = INVALID_SOCKET;

bool startup() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ok;
}
int lastError() { return WSAGetLastError(); }
bool interrupted(int) { return false; }
bool inProgress(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }
bool resetByPeer(int e) { return e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAESHUTDOWN; }
int pollFds(PollFd* fds, unsigned long n, int timeoutMs) { return WSAPoll(fds, n, timeoutMs); }
void closeNative(NativeSocket s) { closesocket(s); }
bool setBlocking(NativeSocket s, bool on) {
    u_long nonBlocking = on ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}
void setSendTimeout(NativeSocket s) {
    DWORD ms = kSendTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}
bool timedOut(int e) { return e == WSAETIMEDOUT; }
// The receive waits by itself, up to ms. Under Wine a poll before every
// receive costs a round trip through its server, more than the receive itself.
constexpr bool kReceiveTimesOut = true;
void setReceiveTimeout(NativeSocket s, std::uint32_t ms) {
    DWORD value = ms;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
}
void setNoInherit(NativeSocket) {} // Winsock handles are not inherited by spawned processes by default
int sendSome(NativeSocket s, const std::uint8_t* p, std::size_t n) {
    int chunk = n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
    return send(s, reinterpret_cast<const char*>(p), chunk, 0);
}
int recvSome(NativeSocket s, std::uint8_t* p, std::size_t n) {
    int chunk = n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
    return recv(s, reinterpret_cast<char*>(p), chunk, 0);
}
constexpr int kShutdownBoth = SD_BOTH;
#else
using PollFd = pollfd;
constexpr NativeSocket kInvalid = -1;

bool startup() { return true; }
int lastError() { return errno; }
bool interrupted(int e) { return e == EINTR; }
bool inProgress(int e) { return e == EINPROGRESS; }
bool resetByPeer(int e) { return e == ECONNRESET || e == EPIPE || e == ENOTCONN; }
bool timedOut(int) { return false; }
// A poll is cheap here: the receive itself never waits beyond it.
constexpr bool kReceiveTimesOut = false;
void setReceiveTimeout(NativeSocket, std::uint32_t) {}
int pollFds(PollFd* fds, unsigned long n, int timeoutMs) { return ::poll(fds, n, timeoutMs); }
void closeNative(NativeSocket s) { ::close(s); }
bool setBlocking(NativeSocket s, bool on) {
    int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0) return false;
    flags = on ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(s, F_SETFL, flags) == 0;
}
void setSendTimeout(NativeSocket s) {
    timeval tv{};
    tv.tv_sec = kSendTimeoutMs / 1000;
    tv.tv_usec = (kSendTimeoutMs % 1000) * 1000;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}
// A child process started by us (the simulator, in tests) must not keep our sockets open.
void setNoInherit(NativeSocket s) { fcntl(s, F_SETFD, FD_CLOEXEC); }
ssize_t sendSome(NativeSocket s, const std::uint8_t* p, std::size_t n) {
#ifdef MSG_NOSIGNAL
    return ::send(s, p, n, MSG_NOSIGNAL); // a closed peer is an error, not a SIGPIPE
#else
    return ::send(s, p, n, 0);
#endif
}
ssize_t recvSome(NativeSocket s, std::uint8_t* p, std::size_t n) { return ::recv(s, p, n, 0); }
constexpr int kShutdownBoth = SHUT_RDWR;
#endif

void setNoDelay(NativeSocket s) {
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void configureStream(NativeSocket s) {
    setNoInherit(s);
    setNoDelay(s);
    setSendTimeout(s);
}

// Waits until s is ready for the given events. 1 ready, 0 timed out, -1 error.
// A negative timeout waits without limit.
int waitReady(NativeSocket s, short events, int timeoutMs) {
    for (;;) {
        PollFd fd{};
        fd.fd = s;
        fd.events = events;
        int r = pollFds(&fd, 1, timeoutMs);
        if (r > 0) return 1;
        if (r == 0) return 0;
        if (!interrupted(lastError())) return -1;
    }
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    // Rounded up: a wait must never end before its deadline.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

// Completes a connect on a non-blocking socket within timeoutMs.
bool connectWithin(NativeSocket s, const sockaddr* addr, socklen_t length, std::uint32_t timeoutMs) {
    if (!setBlocking(s, false)) return false;
    bool connected = ::connect(s, addr, length) == 0;
    if (!connected && inProgress(lastError())) {
        const int limit = timeoutMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
        if (waitReady(s, POLLOUT, limit) == 1) {
            int error = 0;
            socklen_t size = sizeof error;
            connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && error == 0;
        }
    }
    return connected && setBlocking(s, true);
}

} // namespace

Socket::Socket(NativeSocket s) : s_(s), open_(s != kInvalid) {}

Socket::~Socket() { close(); }

Socket::Socket(Socket&& other) noexcept
    : s_(other.s_), open_(std::exchange(other.open_, false)), received_(std::move(other.received_)),
      receivedAt_(std::exchange(other.receivedAt_, 0)), receiveTimeoutMs_(std::exchange(other.receiveTimeoutMs_, 0)) {
    other.received_.clear();
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        s_ = other.s_;
        open_ = std::exchange(other.open_, false);
        received_ = std::move(other.received_);
        receivedAt_ = std::exchange(other.receivedAt_, 0);
        receiveTimeoutMs_ = std::exchange(other.receiveTimeoutMs_, 0);
        other.received_.clear();
    }
    return *this;
}

bool Socket::valid() const { return open_; }

Socket Socket::connectTo(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs) {
    if (!startup()) return Socket();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) return Socket();
    Socket result;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        NativeSocket s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == kInvalid) continue;
        setNoInherit(s);
        if (connectWithin(s, a->ai_addr, static_cast<socklen_t>(a->ai_addrlen), timeoutMs)) {
            configureStream(s);
            result = Socket(s);
            break;
        }
        closeNative(s);
    }
    freeaddrinfo(found);
    return result;
}

bool Socket::sendAll(std::span<const std::uint8_t> bytes) {
    if (!open_) return false;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        auto n = sendSome(s_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && interrupted(lastError())) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

std::size_t Socket::takeReceived(std::span<std::uint8_t> buffer) {
    const std::size_t n = std::min(buffer.size(), received_.size() - receivedAt_);
    if (n > 0) std::memcpy(buffer.data(), received_.data() + receivedAt_, n);
    receivedAt_ += n;
    if (receivedAt_ == received_.size()) {
        received_.clear();
        receivedAt_ = 0;
    }
    return n;
}

RecvStatus Socket::recvExact(std::span<std::uint8_t> buffer, std::optional<std::uint32_t> timeoutMs) {
    if (!open_) return RecvStatus::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs.value_or(0));
    std::size_t got = takeReceived(buffer);
    while (got < buffer.size()) {
        if (timeoutMs && kReceiveTimesOut) {
            const auto left = static_cast<std::uint32_t>(remainingMs(deadline));
            if (left == 0) return RecvStatus::TimedOut;
            // Never armed longer than the time left, so no receive waits past its deadline. A
            // shorter one stands (its expiry only means another look), so callers whose waits
            // differ do not set it anew on every receive.
            if (receiveTimeoutMs_ == 0 || receiveTimeoutMs_ > left) {
                setReceiveTimeout(s_, left);
                receiveTimeoutMs_ = left;
            }
        } else if (timeoutMs) {
            int ready = waitReady(s_, POLLIN, remainingMs(deadline));
            if (ready == 0) return RecvStatus::TimedOut;
            if (ready < 0) return RecvStatus::Failed;
        }
        const std::size_t missing = buffer.size() - got;
        // A large rest goes straight to the caller; a small one brings what follows it along.
        const bool ahead = missing < kReadAhead;
        if (ahead) received_.resize(kReadAhead);
        auto n = ahead ? recvSome(s_, received_.data(), kReadAhead) : recvSome(s_, buffer.data() + got, missing);
        if (ahead) received_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (n > 0) {
            got += ahead ? takeReceived(buffer.subspan(got)) : static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return RecvStatus::Closed;
        const int error = lastError();
        if (interrupted(error)) continue;
        if (timedOut(error)) {
            // An armed timeout shorter than this wait has run out, not the wait itself.
            if (!timeoutMs || remainingMs(deadline) > 0) continue;
            return RecvStatus::TimedOut;
        }
        return resetByPeer(error) ? RecvStatus::Closed : RecvStatus::Failed;
    }
    return RecvStatus::Ok;
}

bool Socket::waitReadable(std::uint32_t timeoutMs) {
    if (!open_ || receivedAt_ < received_.size()) return true; // a read would not wait
    const int limit = timeoutMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    return waitReady(s_, POLLIN, limit) != 0;
}

void Socket::shutdown() {
    if (open_) ::shutdown(s_, kShutdownBoth);
}

void Socket::close() {
    received_.clear();
    receivedAt_ = 0;
    receiveTimeoutMs_ = 0;
    if (!open_) return;
    closeNative(s_);
    open_ = false;
}

Listener::~Listener() { close(); }

Listener::Listener(Listener&& other) noexcept
    : s_(other.s_), open_(std::exchange(other.open_, false)), port_(other.port_) {}

Listener& Listener::operator=(Listener&& other) noexcept {
    if (this != &other) {
        close();
        s_ = other.s_;
        open_ = std::exchange(other.open_, false);
        port_ = other.port_;
    }
    return *this;
}

Listener Listener::listenLoopback(std::uint16_t port) {
    return listenOn("127.0.0.1", port);
}

Listener Listener::listenOn(const std::string& address, std::uint16_t port) {
    Listener result;
    if (!startup()) return result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE; // an address, never a name to look up
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (address.empty() || getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return result;
    NativeSocket s = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s == kInvalid) {
        freeaddrinfo(found);
        return result;
    }
    setNoInherit(s);
#ifndef _WIN32
    // A restarted simulator can take its fixed port again at once.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    const bool bound = ::bind(s, found->ai_addr, static_cast<socklen_t>(found->ai_addrlen)) == 0;
    freeaddrinfo(found);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (!bound || ::listen(s, SOMAXCONN) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        closeNative(s);
        return result;
    }
    result.s_ = s;
    result.open_ = true;
    result.port_ = local.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port)
                                               : ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
    return result;
}

Socket Listener::accept(std::uint32_t timeoutMs) {
    if (!open_) return Socket();
    const int limit = timeoutMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    if (waitReady(s_, POLLIN, limit) != 1) return Socket();
    NativeSocket s = ::accept(s_, nullptr, nullptr);
    if (s == kInvalid) return Socket();
    configureStream(s);
    return Socket(s);
}

void Listener::close() {
    if (!open_) return;
    closeNative(s_);
    open_ = false;
}

} // namespace telvane::net
