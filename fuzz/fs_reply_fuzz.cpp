// Arbitrary bytes as the phone's answers to the file-system commands whose replies carry
// something: reads land only in the destination, the volume name stays in its area, counts and
// free space are whatever came back.

#include <array>
#include <memory>

#include "fuzz_port.h"
#include "services/fs_commands.h"

using namespace telvane;
using namespace telvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    const std::uint8_t op = in.u8();
    const std::size_t count = std::size_t{in.be16()} & 0x1FFF; // up to 8 pieces of a read
    ScriptedLink l;
    while (!in.empty()) {
        const std::uint16_t head = in.be16();
        if (head & 0x8000) l.port.pushReply(6, {});
        else if (head & 0x4000) l.port.pushRaw(in.take(head & 0x0FFF), true);
        else l.port.pushReply(8, in.take(head & 0x0FFF));
    }
    FixedEntrySize entrySize(op & 0x80 ? 44 : 0);
    FsCommands fs(l.transport, l.log, entrySize);

    switch (op & 7) {
    case 0: {
        auto destination = std::make_unique<std::uint8_t[]>(count + 1);
        const int r = fs.FsRead(std::span(destination.get(), count));
        check(r == 0 || r == -1);
        break;
    }
    case 1: {
        std::uint16_t n = 0;
        check(fs.FsCount(n) <= 0);
        break;
    }
    case 2: {
        auto volume = std::make_unique<std::array<char16_t, fs::kMaxVolumeUnits>>();
        check(fs.FsVolumeName(*volume) <= 0);
        break;
    }
    case 3: {
        std::uint32_t free = 1;
        const int r = fs.FsFreeSpace(u"/a", free);
        check(r == 0 ? free != 0 : free == 0);
        break;
    }
    case 4: {
        const std::uint8_t bytes[2000] = {};
        check(fs.FsWrite(std::span(bytes).first(count % sizeof bytes)) <= 0);
        break;
    }
    default:
        check(fs.FsOpen("/a/x", 0) <= 0);
        check(fs.FsSeek(0, 0) <= 0);
        check(fs.FsClose() <= 0);
        check(fs.FsDelete("/a/x") <= 0);
        break;
    }
    return 0;
}
