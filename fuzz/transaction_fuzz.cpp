// Arbitrary bytes as the phone's reply to a command: the transaction must classify them (0, 1
// or -1), never copy more than arrived or than the caller's room, and never read past its areas.

#include <memory>

#include "fuzz_port.h"

using namespace telvane;
using namespace telvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    const std::uint8_t flags = in.u8();
    const std::size_t capacity = std::size_t{in.u8()} * 17; // 0 to 4335: below and above a reply's reach
    ScriptedLink l;
    // Most inputs would answer the wrong command; let half of them answer the right one.
    l.port.pushRaw(in.rest(), (flags & 1) != 0);

    auto reply = std::make_unique<std::uint8_t[]>(capacity + 1); // exactly the room given (+1 for 0)
    std::uint32_t replyLength = 0xA5A5A5A5;
    const std::uint8_t payload[1] = {0};
    const int result = l.transport.sendCommand(0x36, payload, sizeof payload, reply.get(), capacity, replyLength);
    check(result == 0 || result == 1 || result == -1);
    check(replyLength == 0xA5A5A5A5 || (result == 0 && replyLength <= capacity && replyLength <= 4096 - 14));
    return 0;
}
