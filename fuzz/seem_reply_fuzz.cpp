// Arbitrary bytes as the phone's answers to seem reads and writes: the record copied out never
// exceeds the room given, and the reported size matches what came back.

#include <memory>

#include "fuzz_port.h"
#include "services/seem_commands.h"

using namespace telvane;
using namespace telvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    const std::uint8_t flags = in.u8();
    const std::size_t capacity = std::size_t{in.u8()} * 17;
    const std::uint16_t split = in.be16() & 0x0FFF;
    ScriptedLink l;
    auto answer = [&](std::span<const std::uint8_t> bytes, bool raw) {
        if (raw) l.port.pushRaw(bytes, true);
        else if (flags & 4) l.port.pushReply(6, {});
        else l.port.pushReply(8, bytes);
    };
    answer(in.take(split), (flags & 1) != 0);
    answer(in.rest(), (flags & 2) != 0);

    SeemCommands seems(l.transport);
    auto destination = std::make_unique<std::uint8_t[]>(capacity + 1);
    std::uint32_t recordSize = 0xA5A5A5A5;
    const int read = seems.readSeem(0x0117, 1, std::span(destination.get(), capacity), recordSize);
    check(read == 0 || read == -1);
    check(read != 0 || recordSize < 4096);

    const std::uint8_t bytes[3] = {1, 2, 3};
    const int write = seems.writeSeem(0x0117, 1, 0, sizeof bytes, bytes);
    check(write == 0 || write == -1);
    return 0;
}
