#pragma once
// The phones the benchmarks run on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/phone_profile.h"

namespace telvane::bench {

inline constexpr const char* kTransferName = "big.bin";

// Bytes that differ from one to the next, so a misplaced piece shows.
std::vector<std::uint8_t> patternBytes(std::size_t size);
// A flat phone holding one file with the content, and room for as much again.
sim::PhoneProfile transferPhone(const std::vector<std::uint8_t>& content);
// A path phone ("/a", 268-byte records) with files spread evenly over folders below the root.
sim::PhoneProfile treeFillPhone(std::size_t files, std::size_t folders);
// A flat phone ("a", 44-byte records) with files.
sim::PhoneProfile flatFillPhone(std::size_t files);
// The phone as a description file for telvane-phonesim (its files' sizes, not their bytes).
std::string phoneDescription(const sim::PhoneProfile& profile);

} // namespace telvane::bench
