#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace telvane::sim {

// What a fault does to the command it hits.
enum class FaultKind {
    // Transaction level (applied by the driver model).
    Status,         // answer with phone status `value` and no data
    NoReply,        // never queue a reply: polls find nothing until the caller gives up
    WrongSequence,  // the reply answers another sequence number
    BadPacketCount, // reply byte 0 is `value` (2 unless given) instead of 1
    NotAReply,      // bit 15 of the sequence word is clear
    BadDataLength,  // the data length field disagrees with the packet length
    WriteTimeout,   // the command's write request times out; the phone never sees it
    WriteFail,      // the command's write request fails; the phone never sees it
    ReadTimeout,    // the reply's read request times out; the reply is lost
    ReadFail,       // the reply's read request fails; the reply is lost
    Unplug,         // the phone is unplugged right after it answered this command
    // Phone level (applied by the phone model).
    ZeroFreeSpace,  // the free-space answer is 0
    FileCount,      // the file count answer is `value` (0 or 0xFFFF make sense)
    BadEntrySize,   // list chunk records are `value` bytes long (100 unless given)
    ShortRead,      // a file read answers `value` bytes fewer than asked (1 unless given)
    ListedSize,     // the listing begun by this count gives every file the size `value`
    SeemFlip,       // a seem write is taken, but byte `value` (0 unless given) is stored inverted
};

// One fault: what it does, which commands it hits, how often.
struct FaultRule {
    FaultKind kind = FaultKind::Status;
    std::uint32_t value = 0;
    bool hasValue = false;
    std::optional<std::uint16_t> opcode;     // only commands with this opcode
    std::optional<std::uint32_t> subcommand; // only commands whose payload starts with this BE32
    std::optional<std::uint32_t> nth;        // only the n-th command the phone receives (from 1)
    std::uint32_t times = 0;                 // how many hits before the rule is spent; 0 = no end
};

// Parses "KIND[=VALUE][@OPCODE[/SUB]][#N][*TIMES]", e.g. "status=7@0x4a/1", "noreply#5", "unplug#20".
// Numbers are decimal or 0x-hex. Kind names: status noreply wrongseq badcount notreply baddatalen
// writetimeout writefail readtimeout readfail unplug zerofree count badentry shortread listsize seemflip.
std::optional<FaultRule> parseFaultRule(const std::string& text);
std::string faultKindName(FaultKind kind);

// The faults in force; matched against every command in arrival order.
class FaultPlan {
public:
    void add(const FaultRule& rule);
    void clear();
    // The first live rule matching this command (and uses one of its hits), or nothing.
    std::optional<FaultRule> match(std::uint32_t commandNumber, std::uint16_t opcode,
                                   std::optional<std::uint32_t> subcommand);

private:
    struct Live {
        FaultRule rule;
        std::uint32_t hits = 0;
    };
    std::vector<Live> rules_;
};

} // namespace telvane::sim
