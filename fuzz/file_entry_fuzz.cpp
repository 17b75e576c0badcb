// The record accessors on arbitrary records of both sizes, before and after conversion: every
// text they give lies inside the record.

#include <memory>

#include "fuzz_port.h"
#include "services/file_list.h"

using namespace telvane;
using namespace telvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    const std::uint8_t flags = in.u8();
    const std::uint32_t e = (flags & 1) ? list::kLargeEntry : list::kSmallEntry;
    auto record = std::make_unique<std::uint8_t[]>(e); // exactly one record: ASan guards its ends
    const auto bytes = in.take(e);
    std::memcpy(record.get(), bytes.data(), bytes.size());
    if (flags & 2) convertRecord(record.get(), e);

    const FileEntry entry{record.get(), e};
    const auto* begin = reinterpret_cast<const char*>(record.get());
    const std::string_view name = entryName(entry);
    check(name.data() == begin && name.size() <= e - 8);
    const std::string_view ext = entryExtension(entry);
    check(ext.empty() || (ext.data() > begin && ext.data() + ext.size() <= begin + e));
    check(entryAttribute(entry) == (entryAttributes32(entry) & 0xFFFF));
    (void)entrySize(entry);
    return 0;
}
