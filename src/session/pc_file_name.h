#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace telvane {

// The name a downloaded phone file gets on the PC: the whole last component of the phone name
// (extension included), made into a name Windows creates as an ordinary file. Characters it
// refuses (\ / : * ? " < > | and control characters) become '_', trailing dots and blanks go,
// a device name (CON, NUL, COM1, LPT1, ..., with or without an extension) gets a '_' in front,
// and a name left empty, "." or ".." becomes "_".
std::string pcFileName(std::string_view phoneName);

// The PC file a seem record is saved in: "%.4x_%.4x.seem" of seem and record ("0032_0001.seem").
std::string seemFileName(std::uint16_t seem, std::uint16_t record);

} // namespace telvane
