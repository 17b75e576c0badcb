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
#include "ui/transfer_meter.h"

namespace telvane {

// The user's operations on phone files (upload from the PC, download to the PC, delete and
// change the attribute) and, through SeemTransfers, on seems, over one phone session and one
// desktop, with the one dialog setup they share. Each reports in the log as it goes and keeps
// nothing when it ends but the dialog's buffers and the current folder. Each belongs to the
// connection it began on: once that phone is gone (even if another took its place) its commands
// fail at once. Rows, and tree folders, of a list read on an earlier connection are refused
// before anything is sent. Window's thread only, one at a time.
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
    // mode, under their own names in flat mode. The progress bar follows all their bytes, and
    // the user may stop between two pieces.
    void uploadFiles() override;
    // The same for files dropped on the window (given by their full paths), into folder or, when
    // it is 0, the selected one. A dropped folder refuses the whole drop before anything is sent.
    void uploadDroppedFiles(const std::vector<std::string>& paths, TreeNode folder) override;
    // Copies the selected phone files to the PC; one save dialog, shown once the first phone
    // file is open, chooses its path, the others go beside it under their own names. The
    // progress bar follows the bytes of all of them; a stop between two pieces removes the part
    // of the file written so far.
    void downloadFiles() override;
    // Deletes the selected phone files, asking before each.
    void deleteFiles() override;
    // Gives the selected phone files the attribute typed in the attribute field.
    void changeAttributes() override;
    void downloadSeems() override { seems_.downloadSeems(); }
    void uploadSeem() override { seems_.uploadSeem(); }
    // Writes the text to a PC file chosen in a save dialog, which asks before replacing one.
    void saveLog(std::string_view text) override;

    const FileDialogSetup& dialogSetup() const { return dialog_; }

private:
    enum class Step { Done, Refused, Stop };
    struct ChosenFile {
        std::string path;    // as the PC file is opened: a full path, or a name in the current folder
        std::string ownName; // without its folder
        std::uint64_t listedSize = 0; // its share of the progress bar, as found before the upload
    };

    std::vector<ChosenFile> chosenFiles();
    // Reads the phone's free space for an upload that has logged its start; false (logged) when
    // it cannot be had.
    bool readFreeSpace(std::uint32_t& freeSpace);
    // Uploads the files in turn into folder, then refreshes the list when asked for.
    void uploadChosen(std::vector<ChosenFile> files, TreeNode folder, std::uint32_t freeSpace);
    Step uploadFile(const ChosenFile& chosen, const std::string& folderPath, std::uint32_t& freeSpace,
                    TransferMeter& meter);
    bool downloadFile(FileEntry entry, bool& folderChosen, TransferMeter& meter);
    // The bytes of the selected rows a download would move.
    std::uint64_t selectedBytes();
    // The folder uploads go to: the path of folder (0: the selected one) in tree mode, "" in
    // flat mode.
    std::string uploadFolder(TreeNode folder);
    // Visits the selected rows in list order with their entries (none for a row whose item data
    // is not a record of the current list) while visit returns true. False when none was selected.
    template <class Visit>
    bool forEachSelectedRow(Visit visit);
    // False (logged) when rows are selected but the list they show was read on an earlier
    // connection: their names are not to be trusted on the phone attached now.
    bool rowsFromThisConnection();
    // The same for the tree folder an upload goes to (folder, or the selected one when 0).
    bool folderFromThisConnection(TreeNode folder);
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
