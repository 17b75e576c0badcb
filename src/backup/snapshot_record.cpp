#include "backup/snapshot_record.h"

#include "backup/pc_store.h"
#include "common/sha256.h"

namespace telvane::backup {

std::optional<std::vector<std::uint8_t>> readSnapshotRecord(const std::filesystem::path& snapshotFolder,
                                                            const Manifest::Seem& seem) {
    const auto text = readTextFile(snapshotFolder / pcPath(seem.pc), seem.size);
    if (!text || text->size() != seem.size) return std::nullopt;
    std::vector<std::uint8_t> bytes(text->begin(), text->end());
    if (!seem.sha256.empty() && sha256Hex(bytes) != seem.sha256) return std::nullopt;
    return bytes;
}

} // namespace telvane::backup
