#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "sim/phone_profile.h"

namespace telvane::sim {

// A phone described in plain text, one statement a line; blank lines and lines starting with
// '#' are skipped. Words are separated by blanks; a word may be quoted ("...", with the escapes
// \" \\ \r \n \t and \xHH). Numbers are decimal or 0x-hex.
//
//   volume TEXT                  the volume name (required)
//   entry-size 44|268            list record size (default 268)
//   records-per-chunk N          list records per chunk (default: as many as one reply carries)
//   free-space N                 free bytes (default 1048576)
//   model TEXT                   model name, stored at seem 0x0117 record 1 as UTF-16BE
//   file NAME [attr=N] [second=N] (text=TEXT | hex=HEX | size=N [fill=N])
//   seem SEEM RECORD (hex=HEX | text=TEXT | utf16=TEXT)
//   fault RULE                   a fault rule, as for --fault
//   restart-drops                a restart takes the phone off the bus and brings it back
//
// Nothing on failure, with error saying which line and why.
std::optional<PhoneProfile> parsePhoneDescription(std::string_view text, std::string& error);
// Reads and parses a description file.
std::optional<PhoneProfile> loadPhoneDescription(const std::string& path, std::string& error);

} // namespace telvane::sim
