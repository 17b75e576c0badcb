#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "backup/manifest.h"

namespace telvane::backup {

// A seem record's bytes as a snapshot holds them, when they are what its manifest recorded (the
// size, and the hash where one was kept); nothing for a copy that is missing or damaged.
std::optional<std::vector<std::uint8_t>> readSnapshotRecord(const std::filesystem::path& snapshotFolder,
                                                            const Manifest::Seem& seem);

} // namespace telvane::backup
