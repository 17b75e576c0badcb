// Arbitrary bytes as the phone's answers to a file list read: a count, then chunks. The list must
// stay within its block, expose only records it received, and its accessors must stay inside
// their records, for every list read, complete or not.

#include "fuzz_port.h"
#include "services/file_list.h"

using namespace telvane;
using namespace telvane::fuzz;

namespace {

// Answers, each led by a 16-bit word: top bit set is an answer without data (status 6), next
// bit a failing status; otherwise the low 12 bits are the length of the data that follows.
void script(ScriptPort& port, Input& in) {
    while (!in.empty()) {
        const std::uint16_t head = in.be16();
        if (head & 0x8000) {
            port.pushReply(6, {});
        } else if (head & 0x4000) {
            port.pushReply(static_cast<std::uint8_t>(head & 0x0F) == 6 ? 7 : head & 0x0F, {});
        } else {
            port.pushReply(8, in.take(head & 0x0FFF));
        }
    }
}

// Big counts are legal but slow to fuzz through; past 1 MiB the allocation fails, which is a
// path worth fuzzing as well.
std::unique_ptr<std::uint8_t[]> boundedAllocate(std::size_t bytes) {
    return bytes > (1u << 20) ? nullptr : FileList::allocateZeroed(bytes);
}

void walk(const FileList& list) {
    const std::uint32_t received = list.recordsReceived();
    check(received <= list.count());
    check(list.entry(received).record == nullptr);
    for (std::uint32_t i = 0; i < received; ++i) {
        const FileEntry e = list.entry(i);
        check(e.record != nullptr && e.entrySize == list.recordSize());
        const auto* begin = reinterpret_cast<const char*>(e.record);
        const std::string_view name = entryName(e);
        check(name.data() == begin && name.size() <= e.entrySize - 8);
        const std::string_view ext = entryExtension(e);
        check(ext.empty() || (ext.data() > begin && ext.data() + ext.size() <= begin + e.entrySize));
        check(entryAttribute(e) == (entryAttributes32(e) & 0xFFFF));
        (void)entrySize(e);
        check(list.entryAt(e.record).record == e.record);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    ScriptedLink l;
    script(l.port, in);
    FileList list(l.log, &boundedAllocate);
    FsCommands fs(l.transport, l.log, list);
    NullProgress progress;
    // Read until the answers run out: each read replaces the last one's block or keeps it.
    for (int round = 0; round < 4; ++round) {
        const int result = list.readFileList(fs, progress);
        check(result == 0 || result == -1);
        check(result != 0 || list.complete());
        walk(list);
    }
    return 0;
}
