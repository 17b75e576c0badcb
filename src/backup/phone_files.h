#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "services/file_transfer.h"
#include "session/phone_session.h"

namespace telvane::backup {

// A phone file as the list gave it, copied out of the list's block.
struct PhoneFileRecord {
    std::string name; // as the phone has it (8-bit)
    std::uint16_t attribute = 0;
    std::uint16_t second = 0;
    std::uint32_t size = 0;
    std::uint32_t attributes32() const { return std::uint32_t{attribute} | (std::uint32_t{second} << 16); }
};

// The size the list gives a file it cannot size.
inline constexpr std::uint32_t kNoSize = 0xFFFFFFFF;

// Where the bytes of a phone file come from as they are written (a PC file, memory).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills bytes whole; false when it cannot (the transfer then stops).
    virtual bool read(std::span<std::uint8_t> bytes) = 0;
};

// One seem record's bytes as the phone holds them now.
enum class SeemRead {
    Read,   // the record, with its bytes
    Absent, // the phone answered: no such record (a status, a result code, or no data)
    Failed, // the exchange itself failed (time-out, USB failure, malformed reply)
};

// What a failed transfer says in a failure line ("cannot open file", ...).
const char* transferFailureText(TransferOutcome outcome);

// The phone's files and seem records as the backup, verify and restore use them, over a session
// already connected. Failures are outcomes; the transaction has logged their causes.
class PhoneFiles {
public:
    explicit PhoneFiles(PhoneSession& session) : session_(session) {}

    // The phone's list; false when it could not be read.
    bool readList(std::vector<PhoneFileRecord>& files);
    // Reads a file into sink piece by piece (a size of 0 reads nothing).
    TransferOutcome readFile(const PhoneFileRecord& file, ByteSink& sink, TransferWatch* watch);
    // Writes size bytes from source as a phone file piece by piece, then closes it. A stop leaves
    // what was written (the phone has no rename: an interrupted file is rewritten later, never
    // deleted here).
    TransferOutcome writeFile(const std::string& name, ByteSource& source, std::uint32_t size, TransferWatch* watch);
    // Gives a file its attribute word (opening it with the value does that); false on failure.
    bool setAttribute(const std::string& name, std::uint16_t attribute);
    // The longest phone name the phone takes (0: no list read, no limit known).
    std::size_t longestName() const;
    SeemRead readSeem(std::uint16_t seem, std::uint16_t record, std::vector<std::uint8_t>& bytes);
    // Writes a whole record; false on failure (a record too long for one write included).
    bool writeSeem(std::uint16_t seem, std::uint16_t record, std::span<const std::uint8_t> bytes);
    std::uint32_t freeSpace() const { return session_.info.freeSpace; }

private:
    PhoneSession& session_;
};

} // namespace telvane::backup
