#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace telvane::bridge {

// The device bridge's messages: u32 big-endian LENGTH (of TYPE and BODY), u8 TYPE, BODY.
// Pure encoding and decoding; the sockets are the client's and the server's business.

constexpr std::size_t kLengthFieldSize = 4;
constexpr std::uint32_t kMaxMessageLength = 1u << 20; // LENGTH above this is a protocol error
constexpr std::uint8_t kResponseBit = 0x80;
constexpr std::uint8_t kErrorType = 0xFF;
// The most output an Ioctl response can carry: LENGTH less TYPE, outcome and the blob's count.
constexpr std::uint32_t kMaxIoctlOutput = kMaxMessageLength - 1 - 1 - 4;
// The longest a server holds an Open of an interface another client has before it answers
// that the interface is in use; never more than half the wait the client said hello with.
constexpr std::uint32_t kOpenWaitMs = 3000;

enum class MessageType : std::uint8_t {
    ModemPort = 0x01,
    ModemWrite = 0x02,
    ListInterfaces = 0x03,
    Open = 0x04,
    Ioctl = 0x05,
    Close = 0x06,
    WaitRemoval = 0x07,
    Hello = 0x08,
};

enum class IoctlOutcome : std::uint8_t { Completed = 0, TimedOut = 1, Failed = 2 };

// --- Requests (TYPE as above)
struct ModemPortRequest {
    bool operator==(const ModemPortRequest&) const = default;
};
struct ModemWriteRequest {
    std::string port;
    std::vector<std::uint8_t> bytes;
    bool operator==(const ModemWriteRequest&) const = default;
};
struct ListInterfacesRequest {
    bool operator==(const ListInterfacesRequest&) const = default;
};
struct OpenRequest {
    std::string path;
    bool operator==(const OpenRequest&) const = default;
};
struct IoctlRequest {
    std::uint32_t handle = 0;
    std::uint32_t code = 0;
    std::uint32_t capacity = 0; // room for the driver's answer
    std::uint32_t limitMs = 0;
    std::vector<std::uint8_t> input;
    bool operator==(const IoctlRequest&) const = default;
};
struct CloseRequest {
    std::uint32_t handle = 0;
    bool operator==(const CloseRequest&) const = default;
};
struct WaitRemovalRequest {
    std::string path;
    bool operator==(const WaitRemovalRequest&) const = default;
};
// The first message of a client's every connection: which client program it belongs to (a
// random id of the client's own), so that the server treats all its connections as one, and
// how long the client waits for an answer, so that the server answers within it.
// BODY: u64 clientId, u32 answerWithinMs.
struct HelloRequest {
    std::uint64_t clientId = 0;
    std::uint32_t answerWithinMs = 0;
    bool operator==(const HelloRequest&) const = default;
};
// Alternatives in TYPE order, so index + 1 is the TYPE.
using Request = std::variant<ModemPortRequest, ModemWriteRequest, ListInterfacesRequest, OpenRequest, IoctlRequest,
                             CloseRequest, WaitRemovalRequest, HelloRequest>;

// --- Responses (TYPE = request TYPE | 0x80)
struct ModemPortResponse {
    std::string port; // "" when none
    bool operator==(const ModemPortResponse&) const = default;
};
struct ModemWriteResponse {
    bool ok = false;
    bool operator==(const ModemWriteResponse&) const = default;
};
struct ListInterfacesResponse {
    std::vector<std::string> paths;
    bool operator==(const ListInterfacesResponse&) const = default;
};
// BODY: u32 handle; when another client holds the interface, handle 0 followed by a u8 1. A
// client from before that byte reads such an answer as malformed, that is as a failed Open.
struct OpenResponse {
    std::uint32_t handle = 0; // 0 when it cannot be opened
    bool inUse = false;       // not opened because another client holds the interface
    bool operator==(const OpenResponse&) const = default;
};
struct IoctlResponse {
    IoctlOutcome outcome = IoctlOutcome::Failed;
    std::vector<std::uint8_t> output; // empty unless Completed
    bool operator==(const IoctlResponse&) const = default;
};
struct CloseResponse {
    bool operator==(const CloseResponse&) const = default;
};
struct WaitRemovalResponse {
    bool operator==(const WaitRemovalResponse&) const = default;
};
struct HelloResponse {
    bool operator==(const HelloResponse&) const = default;
};
using Response = std::variant<ModemPortResponse, ModemWriteResponse, ListInterfacesResponse, OpenResponse,
                              IoctlResponse, CloseResponse, WaitRemovalResponse, HelloResponse>;

MessageType typeOf(const Request& request);

// --- Framing
// The LENGTH field's value when it is acceptable (1 to 1 MiB).
std::optional<std::uint32_t> decodeLength(std::span<const std::uint8_t, kLengthFieldSize> field);

enum class FrameStatus {
    Complete,   // one whole message is at the front
    Incomplete, // a valid start; more bytes are needed
    Invalid,    // LENGTH 0 or above the bound
};
struct FrameSplit {
    FrameStatus status = FrameStatus::Incomplete;
    std::uint8_t type = 0;
    std::span<const std::uint8_t> body; // points into the given bytes
    std::size_t consumed = 0;           // bytes of the whole message, LENGTH included
};
// Takes the first message off the front of a byte stream.
FrameSplit splitFrame(std::span<const std::uint8_t> stream);

// A whole message (LENGTH, TYPE, BODY), or nothing when the body is too long for LENGTH's bound.
std::optional<std::vector<std::uint8_t>> encodeMessage(std::uint8_t type, std::span<const std::uint8_t> body);

// --- Typed messages. Encoders give nothing when a field cannot be carried (a str above 65535
// bytes, a message above the bound). Decoders take TYPE and BODY of one framed message and give
// nothing on any mismatch: missing or trailing bytes, a value out of range.
std::optional<std::vector<std::uint8_t>> encodeRequest(const Request& request);
std::optional<Request> decodeRequest(std::uint8_t type, std::span<const std::uint8_t> body);

std::optional<std::vector<std::uint8_t>> encodeResponse(const Response& response);
// Decodes the answer to `request`: the TYPE must be the request's | 0x80, and an Ioctl's output
// must fit the request's capacity.
std::optional<Response> decodeResponse(const Request& request, std::uint8_t type, std::span<const std::uint8_t> body);

// The server's refusal of a request it cannot parse: TYPE 0xFF with a str message (cut to fit).
std::vector<std::uint8_t> encodeError(std::string_view message);
std::optional<std::string> decodeError(std::uint8_t type, std::span<const std::uint8_t> body);

} // namespace telvane::bridge
