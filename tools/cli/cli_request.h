#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace telvane::cli {

// What one telvane-cli command line asks for, checked and settled before the phone is reached.
struct CliRequest {
    // Global options.
    std::string device;              // as given ("" for the default)
    std::vector<std::string> usbIds; // --usb-id VID:PID, repeatable
    std::uint32_t waitSeconds = 10;
    bool quiet = false;
    bool verbose = false;

    // The command: "info", "ls", "get", "put", "rm", "attr", "seem get", "seem put", "seem show",
    // "seem diff", "seem set", "seem undo", "backup", "verify", "restore", "suspend", "restart" or
    // "watch".
    std::string command;
    std::vector<std::string> names; // phone files (get, rm, attr) or PC files (put)
    std::string folder;             // ls FOLDER, get -r FOLDER, put -d FOLDER
    std::string output;             // -o PATH or DIR
    std::string directory;          // backup, verify, restore DIR
    bool recursive = false;         // get -r
    bool longFormat = false;        // ls -l
    bool json = false;              // info, ls, seem show --json
    bool force = false;             // replace without asking (PC files for get/seem get, phone files for put/restore)
    bool skipExisting = false;      // put --skip-existing
    bool yes = false;               // rm -y
    bool dryRun = false;            // restore --dry-run, seem set --dry-run
    bool filesOnly = false;         // restore --files-only
    bool seemsOnly = false;         // restore --seems-only
    bool withSeems = true;          // backup (--no-seems clears it)
    bool otherPhone = false;        // backup, restore: a folder of another phone's backup
    std::size_t keep = 0;           // backup --keep N (0: every backup kept)
    bool offline = false;           // verify --offline
    std::string snapshot;           // verify, restore --snapshot NAME
    std::uint32_t attribute = 0;    // attr VALUE
    std::uint16_t seemFrom = 0;     // seem get FROM[-TO], backup --seems FROM-TO
    std::uint16_t seemTo = 0x0300;
    std::uint16_t seem = 0;         // seem put SEEM REC FILE
    std::uint16_t record = 0;
    std::string seemFile;
    // seem show / diff / set / undo
    bool bits = false;                    // seem show --bits
    bool recordGiven = false;             // seem diff: a record was named
    std::string seemTarget;               // seem diff DIR|FILE; seem undo UNDOFILE ("list" lists)
    std::vector<std::string> seemEdits;   // seem set EDIT...
};

// The seem range a backup takes when none is given.
inline constexpr std::uint16_t kDefaultSeemFrom = 0x0000;
inline constexpr std::uint16_t kDefaultSeemTo = 0x0300;

enum class ParseOutcome { Run, Help, UsageError };

// Reads the arguments (without the program's name). Help: text holds the help to print (exit
// 0). UsageError: text holds one line saying what is wrong (exit 2).
ParseOutcome parseCliArguments(const std::vector<std::string>& args, CliRequest& request, std::string& text);

// "0032" or "0032-0040": hexadecimal seem numbers up to ffff, the second not below the first.
bool parseSeemRange(const std::string& text, std::uint16_t& from, std::uint16_t& to);

} // namespace telvane::cli
