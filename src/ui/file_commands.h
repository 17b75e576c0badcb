#pragma once

namespace telvane {

// What the window's file and seem commands call, on the window's thread, once the window has
// checked that the phone is connected. Each runs to its end and reports in the log itself.
// FileOperations is the one real implementation; the window's tests put stand-ins here.
class FileCommands {
public:
    virtual ~FileCommands() = default;
    virtual void uploadFiles() = 0;      // "PC >>> Phone"
    virtual void downloadFiles() = 0;    // "Phone >>> PC", context menu "Download"
    virtual void deleteFiles() = 0;      // "Delete file(s)", context menu "&Delete"
    virtual void changeAttributes() = 0; // "Change"
    virtual void downloadSeems() = 0;    // "Download seem"
    virtual void uploadSeem() = 0;       // "Upload seem"
};

} // namespace telvane
