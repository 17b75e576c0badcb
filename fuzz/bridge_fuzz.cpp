// Feeds arbitrary bytes to the bridge codec as a stream of messages, the way a hostile peer
// would. Every frame is decoded as each request and as the answer to each request; whatever
// decodes must encode back to exactly the bytes it came from.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bridge/bridge_codec.h"

namespace {

using namespace telvane::bridge;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

std::vector<std::uint8_t> frameOf(const FrameSplit& split, std::span<const std::uint8_t> stream) {
    return std::vector<std::uint8_t>(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(split.consumed));
}

// The requests an answer can be decoded against; the Ioctl's capacity comes from the input.
std::vector<Request> probes(std::uint32_t capacity) {
    IoctlRequest ioctl;
    ioctl.capacity = capacity;
    return {ModemPortRequest{}, ModemWriteRequest{}, ListInterfacesRequest{}, OpenRequest{},
            ioctl,              CloseRequest{},      WaitRemovalRequest{},    HelloRequest{}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> stream(data, size);
    // The first byte, when there is one, picks the Ioctl capacity the answers are held to.
    std::uint32_t capacity = 4101;
    if (!stream.empty()) {
        capacity = stream[0] * 64u;
        stream = stream.subspan(1);
    }
    while (!stream.empty()) {
        const FrameSplit split = splitFrame(stream);
        if (split.status != FrameStatus::Complete) break;
        check(split.consumed >= kLengthFieldSize + 1 && split.consumed <= stream.size());
        const std::vector<std::uint8_t> frame = frameOf(split, stream);

        if (auto request = decodeRequest(split.type, split.body)) {
            auto again = encodeRequest(*request);
            check(again && *again == frame);
        }
        for (const Request& probe : probes(capacity)) {
            if (auto response = decodeResponse(probe, split.type, split.body)) {
                auto again = encodeResponse(*response);
                check(again && *again == frame);
                if (auto* ioctl = std::get_if<IoctlResponse>(&*response)) check(ioctl->output.size() <= capacity);
            }
        }
        if (auto message = decodeError(split.type, split.body)) check(encodeError(*message) == frame);
        stream = stream.subspan(split.consumed);
    }
    return 0;
}
