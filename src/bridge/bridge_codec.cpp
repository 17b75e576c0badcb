#include "bridge/bridge_codec.h"

#include <algorithm>

#include "common/byte_order.h"
#include "common/byte_reader.h"

namespace telvane::bridge {

namespace {

constexpr std::size_t kMaxStr = 0xFFFF;

// Writes a body, remembering whether every field could be carried.
class BodyWriter {
public:
    void u8(std::uint8_t v) { w_.u8(v); }
    void be16(std::uint16_t v) { w_.be16(v); }
    void be32(std::uint32_t v) { w_.be32(v); }
    void str(std::string_view s) {
        if (s.size() > kMaxStr) {
            ok_ = false;
            return;
        }
        w_.be16(static_cast<std::uint16_t>(s.size()));
        w_.bytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
    }
    void blob(std::span<const std::uint8_t> b) {
        if (b.size() > kMaxMessageLength) {
            ok_ = false;
            return;
        }
        w_.be32(static_cast<std::uint32_t>(b.size()));
        w_.bytes(b);
    }
    std::optional<std::vector<std::uint8_t>> message(std::uint8_t type) {
        if (!ok_) return std::nullopt;
        return encodeMessage(type, w_.data());
    }

private:
    ByteWriter w_;
    bool ok_ = true;
};

std::string readStr(ByteReader& r) {
    const std::uint16_t n = r.be16();
    auto b = r.bytes(n);
    return std::string(b.begin(), b.end());
}

void writeBe64(BodyWriter& w, std::uint64_t v) {
    w.be32(static_cast<std::uint32_t>(v >> 32));
    w.be32(static_cast<std::uint32_t>(v));
}

std::uint64_t readBe64(ByteReader& r) {
    const std::uint64_t high = r.be32();
    return (high << 32) | r.be32();
}

std::vector<std::uint8_t> readBlob(ByteReader& r) {
    const std::uint32_t n = r.be32();
    auto b = r.bytes(n); // checked against what is there before anything is copied
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

// A decoded value counts only when every byte was used, no more and no fewer.
template <class T>
std::optional<T> whole(const ByteReader& r, T value) {
    if (!r.atEnd()) return std::nullopt;
    return value;
}

std::uint8_t typeCode(MessageType t) { return static_cast<std::uint8_t>(t); }

} // namespace

MessageType typeOf(const Request& request) { return static_cast<MessageType>(request.index() + 1); }

std::optional<std::uint32_t> decodeLength(std::span<const std::uint8_t, kLengthFieldSize> field) {
    const std::uint32_t length = readBe32(field.data());
    if (length == 0 || length > kMaxMessageLength) return std::nullopt;
    return length;
}

FrameSplit splitFrame(std::span<const std::uint8_t> stream) {
    FrameSplit split;
    if (stream.size() < kLengthFieldSize) return split;
    auto length = decodeLength(stream.first<kLengthFieldSize>());
    if (!length) {
        split.status = FrameStatus::Invalid;
        return split;
    }
    if (stream.size() - kLengthFieldSize < *length) return split;
    split.status = FrameStatus::Complete;
    split.type = stream[kLengthFieldSize];
    split.body = stream.subspan(kLengthFieldSize + 1, *length - 1);
    split.consumed = kLengthFieldSize + *length;
    return split;
}

std::optional<std::vector<std::uint8_t>> encodeMessage(std::uint8_t type, std::span<const std::uint8_t> body) {
    if (body.size() > kMaxMessageLength - 1) return std::nullopt;
    std::vector<std::uint8_t> out(kLengthFieldSize + 1 + body.size());
    writeBe32(out.data(), static_cast<std::uint32_t>(body.size() + 1));
    out[kLengthFieldSize] = type;
    std::copy(body.begin(), body.end(), out.begin() + kLengthFieldSize + 1);
    return out;
}

std::optional<std::vector<std::uint8_t>> encodeRequest(const Request& request) {
    BodyWriter w;
    if (auto* r = std::get_if<ModemWriteRequest>(&request)) {
        w.str(r->port);
        w.blob(r->bytes);
    } else if (auto* r = std::get_if<OpenRequest>(&request)) {
        w.str(r->path);
    } else if (auto* r = std::get_if<IoctlRequest>(&request)) {
        w.be32(r->handle);
        w.be32(r->code);
        w.be32(r->capacity);
        w.be32(r->limitMs);
        w.blob(r->input);
    } else if (auto* r = std::get_if<CloseRequest>(&request)) {
        w.be32(r->handle);
    } else if (auto* r = std::get_if<WaitRemovalRequest>(&request)) {
        w.str(r->path);
    } else if (auto* r = std::get_if<HelloRequest>(&request)) {
        writeBe64(w, r->clientId);
        w.be32(r->answerWithinMs);
    } // ModemPort and ListInterfaces have no body
    return w.message(typeCode(typeOf(request)));
}

std::optional<Request> decodeRequest(std::uint8_t type, std::span<const std::uint8_t> body) {
    ByteReader r(body);
    switch (static_cast<MessageType>(type)) {
    case MessageType::ModemPort:
        return whole<Request>(r, ModemPortRequest{});
    case MessageType::ModemWrite: {
        ModemWriteRequest m;
        m.port = readStr(r);
        m.bytes = readBlob(r);
        return whole<Request>(r, std::move(m));
    }
    case MessageType::ListInterfaces:
        return whole<Request>(r, ListInterfacesRequest{});
    case MessageType::Open:
        return whole<Request>(r, OpenRequest{readStr(r)});
    case MessageType::Ioctl: {
        IoctlRequest m;
        m.handle = r.be32();
        m.code = r.be32();
        m.capacity = r.be32();
        m.limitMs = r.be32();
        m.input = readBlob(r);
        return whole<Request>(r, std::move(m));
    }
    case MessageType::Close:
        return whole<Request>(r, CloseRequest{r.be32()});
    case MessageType::WaitRemoval:
        return whole<Request>(r, WaitRemovalRequest{readStr(r)});
    case MessageType::Hello: {
        HelloRequest m;
        m.clientId = readBe64(r);
        m.answerWithinMs = r.be32();
        return whole<Request>(r, m);
    }
    }
    return std::nullopt; // unknown TYPE
}

std::optional<std::vector<std::uint8_t>> encodeResponse(const Response& response) {
    BodyWriter w;
    if (auto* r = std::get_if<ModemPortResponse>(&response)) {
        w.str(r->port);
    } else if (auto* r = std::get_if<ModemWriteResponse>(&response)) {
        w.u8(r->ok ? 1 : 0);
    } else if (auto* r = std::get_if<ListInterfacesResponse>(&response)) {
        if (r->paths.size() > 0xFFFF) return std::nullopt;
        w.be16(static_cast<std::uint16_t>(r->paths.size()));
        for (const auto& p : r->paths) w.str(p);
    } else if (auto* r = std::get_if<OpenResponse>(&response)) {
        if (r->inUse && r->handle != 0) return std::nullopt; // an interface in use was not opened
        w.be32(r->handle);
        if (r->inUse) w.u8(1);
    } else if (auto* r = std::get_if<IoctlResponse>(&response)) {
        w.u8(static_cast<std::uint8_t>(r->outcome));
        w.blob(r->output);
    } // Close, WaitRemoval and Hello answer with no body
    return w.message(static_cast<std::uint8_t>((response.index() + 1) | kResponseBit));
}

std::optional<Response> decodeResponse(const Request& request, std::uint8_t type, std::span<const std::uint8_t> body) {
    const MessageType expected = typeOf(request);
    if (type != (typeCode(expected) | kResponseBit)) return std::nullopt;
    ByteReader r(body);
    switch (expected) {
    case MessageType::ModemPort:
        return whole<Response>(r, ModemPortResponse{readStr(r)});
    case MessageType::ModemWrite: {
        const std::uint8_t ok = r.u8();
        if (ok > 1) return std::nullopt;
        return whole<Response>(r, ModemWriteResponse{ok == 1});
    }
    case MessageType::ListInterfaces: {
        ListInterfacesResponse m;
        const std::uint16_t n = r.be16();
        // Every str takes at least its 2-byte count: never reserve more than the body can hold.
        m.paths.reserve(std::min<std::size_t>(n, r.remaining() / 2));
        for (std::uint16_t i = 0; i < n && r.ok(); ++i) m.paths.push_back(readStr(r));
        return whole<Response>(r, std::move(m));
    }
    case MessageType::Open: {
        OpenResponse m{r.be32(), false};
        if (r.remaining() == 0) return whole<Response>(r, m);
        // The in-use mark: exactly one byte, 1, after handle 0.
        m.inUse = r.u8() == 1;
        if (!m.inUse || m.handle != 0) return std::nullopt;
        return whole<Response>(r, m);
    }
    case MessageType::Ioctl: {
        const std::uint8_t outcome = r.u8();
        const std::uint32_t n = r.be32();
        const std::uint32_t capacity = std::get<IoctlRequest>(request).capacity;
        if (!r.ok() || outcome > static_cast<std::uint8_t>(IoctlOutcome::Failed) || n > capacity) return std::nullopt;
        if (outcome != static_cast<std::uint8_t>(IoctlOutcome::Completed) && n != 0) return std::nullopt;
        auto b = r.bytes(n);
        IoctlResponse m{static_cast<IoctlOutcome>(outcome), std::vector<std::uint8_t>(b.begin(), b.end())};
        return whole<Response>(r, std::move(m));
    }
    case MessageType::Close:
        return whole<Response>(r, CloseResponse{});
    case MessageType::WaitRemoval:
        return whole<Response>(r, WaitRemovalResponse{});
    case MessageType::Hello:
        return whole<Response>(r, HelloResponse{});
    }
    return std::nullopt;
}

std::vector<std::uint8_t> encodeError(std::string_view message) {
    BodyWriter w;
    w.str(message.substr(0, kMaxStr));
    return *w.message(kErrorType); // a cut str always fits
}

std::optional<std::string> decodeError(std::uint8_t type, std::span<const std::uint8_t> body) {
    if (type != kErrorType) return std::nullopt;
    ByteReader r(body);
    std::string message = readStr(r);
    return whole(r, std::move(message));
}

} // namespace telvane::bridge
