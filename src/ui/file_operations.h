#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "services/file_list.h"
#include "session/phone_session.h"
#include "ui/browser_views.h"
#include "ui/desktop.h"
#include "ui/file_commands.h"
#include "ui/seem_transfers.h"

namespace telvane {

// The user's operations on phone files (upload from the PC, download to the PC, delete and
// change the attribute) and, through SeemTransfers, on seems, over one phone session and one
// desktop, with the one dialog setup they share. Each reports in the log as it goes and keeps
// nothing when it ends but the dialog's buffers and the current folder. Each belongs to the
// connection it began on: once that phone is gone (even if another took its place) its commands
// fail at once. Window's thread only, one at a time.
class FileOperations final : public FileCommands {
public:
    // autoUpdate: the window's setting; the list is refreshed after changes only when it is 1.
    FileOperations(PhoneSession& session, BrowserViews& views, Desktop desktop, std::function<int()> autoUpdate,
                   FileList::BlockAllocator allocate = &FileList::allocateZeroed)
        : session_(session),
          views_(views),
          desktop_(desktop),
          autoUpdate_(std::move(autoUpdate)),
          allocate_(allocate),
          seems_(session, desktop, dialog_) {}

    // Copies the files chosen in an open dialog to the phone: into the selected folder in tree
    // mode, under their own names in flat mode.
    void uploadFiles() override;
    // Copies the selected phone files to the PC; one save dialog chooses the first file's path,
    // the others go beside it under their own names.
    void downloadFiles() override;
    // Deletes the selected phone files, asking before each.
    void deleteFiles() override;
    // Gives the selected phone files the attribute typed in the attribute field.
    void changeAttributes() override;
    void downloadSeems() override { seems_.downloadSeems(); }
    void uploadSeem() override { seems_.uploadSeem(); }

    const FileDialogSetup& dialogSetup() const { return dialog_; }

private:
    enum class Step { Done, Refused, Stop };
    struct ChosenFile {
        std::string path;    // as the PC file is opened: a full path, or a name in the current folder
        std::string ownName; // without its folder
    };

    std::vector<ChosenFile> chosenFiles();
    Step uploadFile(const ChosenFile& chosen, std::uint32_t& freeSpace);
    bool downloadFile(FileEntry entry, bool& folderChosen);
    // The folder uploads go to: the selected folder's path in tree mode, "" in flat mode.
    std::string uploadFolder();
    // Visits the selected rows in list order with their entries (none for a row whose item data
    // is not a record of the current list) while visit returns true. False when none was selected.
    template <class Visit>
    bool forEachSelectedRow(Visit visit);
    void refreshIfAutomatic();
    void log(std::string_view text) { session_.log.appendLog(text); }

    PhoneSession& session_;
    BrowserViews& views_;
    Desktop desktop_;
    std::function<int()> autoUpdate_;
    FileList::BlockAllocator allocate_;
    FileDialogSetup dialog_;
    SeemTransfers seems_;
};

// The attribute field's text as an unsigned decimal number; a text that is no such number
// (blanks around it aside) reads as 0, and so does any value above 0x10000.
std::uint32_t attributeFieldValue(std::string_view text);

} // namespace telvane
