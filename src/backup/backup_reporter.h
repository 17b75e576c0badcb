#pragma once
#include <cstdint>
#include <string>

#include "services/file_transfer.h"

namespace telvane::backup {

// How a backup, verify or restore ended.
enum class RunResult {
    Done,        // everything it set out to do is done (verify: the phone equals the backup)
    Failed,      // something failed or differs; said through failed(); the rest went on
    Refused,     // nothing was done (another phone's backup, a folder in use); said through failed()
    Interrupted, // the user stopped it; what is unfinished was said
};

// Where a whole-phone command tells what it does, asks, and is stopped: the command line prints
// and prompts, the window logs and shows its progress bar. A TransferWatch for the bytes moved.
class BackupReporter : public TransferWatch {
public:
    // A line of what was done or is planned.
    virtual void say(const std::string& line) = 0;
    // Something failed or differs: what (a phone file, a seem record, the folder) and why.
    virtual void failed(const std::string& what, const std::string& why) = 0;
    // One file or record done as asked.
    virtual void succeeded() {}
    // Every item that moves bytes or reads a record begins and ends here (bytes 0 for a record):
    // progress, and the place the command line looks for the link's cause of a failure.
    virtual void beginItem(const std::string& name, std::uint64_t bytes) = 0;
    virtual void endItem() = 0;
    // What the run will move in all: the bytes of the files and the seems it reads.
    virtual void plannedTotal(std::uint64_t bytes, std::uint32_t seems) { (void)bytes, (void)seems; }
    // A seem has been read or checked (for progress over the seems).
    virtual void seemDone() {}
    // A question answered yes or no; no when it cannot be asked.
    virtual bool confirm(const std::string& question) {
        (void)question;
        return false;
    }
};

} // namespace telvane::backup
