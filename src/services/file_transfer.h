#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "common/clock.h"
#include "services/fs_commands.h"

namespace telvane {

// Where a phone file's bytes go as they arrive (a PC file, a comparison, memory).
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Takes the next piece; false when it could not (the transfer then stops).
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
};

// Follows a transfer piece by piece and may stop it between two pieces.
class TransferWatch {
public:
    virtual ~TransferWatch() = default;
    // Another `bytes` bytes have been moved.
    virtual void moved(std::uint32_t bytes) = 0;
    // Asked before every piece; true ends the transfer there.
    virtual bool stopRequested() = 0;
};

enum class TransferOutcome {
    Done,
    OpenFailed,  // the phone would not open the file
    SeekFailed,  // ... nor seek to its start
    ReadFailed,  // a piece did not arrive whole
    WriteFailed, // the phone refused a piece
    CloseFailed, // the phone refused to close the file after the last piece
    SinkFailed,  // the receiving side refused a piece
    Stopped,     // the watch asked to stop
};

// The phone needs a moment between the steps of a download.
inline constexpr std::uint32_t kDownloadPauseMs = 32;

// Reads a whole phone file piece by piece (1024 bytes per command) into sink: open with the
// attribute word, pause, seek to 0, pause, the pieces, pause, close. Memory stays at one piece
// whatever size is asked for. After the open the phone file is closed on every path (its
// close's result is not examined).
TransferOutcome readPhoneFile(FsCommands& fs, Clock& clock, std::string_view name, std::uint16_t attribute,
                              std::uint32_t size, ByteSink& sink, TransferWatch* watch = nullptr);

// readPhoneFile in two steps, for a caller with something to settle between them (where the
// bytes go). openPhoneFile: open with the attribute word, pause, seek to 0, pause; Done leaves
// the phone file open, a failed seek closes it again. readOpenPhoneFile: the pieces of the file
// openPhoneFile left open, pause, close; it closes the file on every path.
TransferOutcome openPhoneFile(FsCommands& fs, Clock& clock, std::string_view name, std::uint16_t attribute);
TransferOutcome readOpenPhoneFile(FsCommands& fs, Clock& clock, std::uint32_t size, ByteSink& sink,
                                  TransferWatch* watch = nullptr);

// Writes bytes as a phone file under name (opened with attribute 0), piece by piece, then closes
// it. A refused piece still closes the file.
TransferOutcome writePhoneFile(FsCommands& fs, std::string_view name, std::span<const std::uint8_t> bytes,
                               TransferWatch* watch = nullptr);

} // namespace telvane
