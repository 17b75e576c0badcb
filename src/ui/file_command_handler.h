#pragma once

namespace telvane {

// The window's file and seem commands, run on the window's thread once the window has checked
// that the phone is connected. Each runs to its end and reports in the log itself.
class FileCommandHandler {
public:
    virtual ~FileCommandHandler() = default;
    virtual void uploadFiles() = 0;      // "PC >>> Phone"
    virtual void downloadFiles() = 0;    // "Phone >>> PC", context menu "Download"
    virtual void deleteFiles() = 0;      // "Delete file(s)", context menu "&Delete"
    virtual void changeAttributes() = 0; // "Change"
    virtual void downloadSeems() = 0;    // "Download seem"
    virtual void uploadSeem() = 0;       // "Upload seem"
};

} // namespace telvane
