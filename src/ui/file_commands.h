#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "ui/view_controls.h"

namespace telvane {

// What the window's file and seem commands call, on the window's thread, once the window has
// checked that the phone is connected (saving the log needs no phone). Each runs to its end and
// reports in the log itself. FileOperations is the one real implementation; the window's tests
// put stand-ins here.
class FileCommands {
public:
    virtual ~FileCommands() = default;
    virtual void uploadFiles() = 0;      // "PC >>> Phone"
    virtual void downloadFiles() = 0;    // "Phone >>> PC", context menu "Download", Enter, double click
    virtual void deleteFiles() = 0;      // "Delete file(s)", context menu "&Delete", Del
    virtual void changeAttributes() = 0; // "Change"
    virtual void downloadSeems() = 0;    // "Download seem"
    virtual void uploadSeem() = 0;       // "Upload seem"
    // PC files dropped on the list or the tree: uploaded as "PC >>> Phone" uploads them, without
    // the open dialog, into folder (tree mode; 0: the selected folder).
    virtual void uploadDroppedFiles(const std::vector<std::string>& paths, TreeNode folder) = 0;
    // The log pane's "Save log...": its text into a PC file chosen in a save dialog.
    virtual void saveLog(std::string_view text) = 0;
};

} // namespace telvane
