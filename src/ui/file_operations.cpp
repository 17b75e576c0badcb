#include "ui/file_operations.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "services/file_transfer.h"
#include "session/pc_file_name.h"

namespace telvane {

namespace {
constexpr const char* kUploadStart = "File upload... ";
constexpr const char* kDownloadStart = "File download...";
constexpr const char* kDeleteStart = "Deleting file ";
constexpr const char* kChangeStart = " Changing attrib for file ";
constexpr const char* kDeleteQuestion = "A you sure you want to delete file %s ?";

constexpr const char* kOk = " ok\r\n";
constexpr const char* kCanceled = " Canceled.\r\n";
constexpr const char* kNoFilesSelected = "No files selected.\r\n";
constexpr const char* kNoVolumeInfo = " Fail: cannot get vol info\r\n";
constexpr const char* kSizeInvalid = " Fail: file size invalid\r\n";
constexpr const char* kCannotOpen = " Fail: cannot open file\r\n";
constexpr const char* kCannotWritePhoneFile = " Fail: cannot write file\r\n";
constexpr const char* kCannotClosePhoneFile = " Fail: cannot close file\r\n";
constexpr const char* kCannotSeek = " Fail: cannot seek to zero\r\n";
constexpr const char* kCannotRead = " Fail: cannot read file\r\n";
constexpr const char* kCannotCreate = " Fail: cannot create file\r\n";
constexpr const char* kCannotWrite = " Fail: cannot write\r\n";
constexpr const char* kDeleteFail = " Fail!\r\n";
constexpr const char* kTooManyChosen = " Fail: too many files chosen at once, choose fewer\r\n";
constexpr const char* kFolderDropped = " Fail: folders cannot be dropped, only files\r\n";
constexpr const char* kEarlierList = "The list is from an earlier connection: Update list first.\r\n";
constexpr const char* kSaveLogStart = "Saving log to ";
constexpr const char* kLogFileName = "telvane.log";

constexpr std::uint32_t kMaxAttribute = 0x10000;
// Sizes a phone record can give that are no file size.
constexpr std::uint32_t kNoSize = 0xFFFFFFFF;

// A download's bytes, straight into its PC file.
class PcFileSink final : public ByteSink {
public:
    explicit PcFileSink(PcFile& file) : file_(file) {}
    bool write(std::span<const std::uint8_t> bytes) override { return file_.writeAll(bytes); }

private:
    PcFile& file_;
};

std::string deleteQuestion(std::string_view name) {
    std::string text = kDeleteQuestion;
    text.replace(text.find("%s"), 2, name);
    return text;
}

// The name after the last folder separator of a PC path.
std::string_view lastComponent(std::string_view path) {
    const std::size_t at = path.find_last_of("\\/");
    return at == std::string_view::npos ? path : path.substr(at + 1);
}
} // namespace

std::uint32_t attributeFieldValue(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return 0;
    const std::size_t last = text.find_last_not_of(' ');
    const std::string_view digits = text.substr(first, last - first + 1);
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > kMaxAttribute) return 0;
    }
    return static_cast<std::uint32_t>(value);
}

template <class Visit>
bool FileOperations::forEachSelectedRow(Visit visit) {
    OperationControls& controls = desktop_.controls;
    bool any = false;
    for (int row = controls.nextSelectedRow(-1); row >= 0;) {
        any = true;
        if (!visit(session_.files.entryAt(controls.rowData(row)))) break;
        const int next = controls.nextSelectedRow(row);
        // Rows come in list order; anything else would never end.
        if (next <= row) break;
        row = next;
    }
    return any;
}

bool FileOperations::rowsFromThisConnection() {
    if (desktop_.controls.nextSelectedRow(-1) < 0 || views_.listFromThisConnection()) return true;
    log(kEarlierList);
    return false;
}

bool FileOperations::folderFromThisConnection(TreeNode folder) {
    if (!views_.treeMode()) return true;
    const TreeNode node = folder != 0 ? folder : desktop_.controls.selectedTreeNode();
    // The root stands for the volume of the phone attached now; the folders below it came from a list.
    if (node == 0 || node == views_.rootNode() || views_.listFromThisConnection()) return true;
    log(kEarlierList);
    return false;
}

void FileOperations::refreshIfAutomatic() {
    if (autoUpdate_ && autoUpdate_() == 1) views_.refreshFileList();
}

// --- Upload

bool FileOperations::readFreeSpace(std::uint32_t& freeSpace) {
    freeSpace = 0;
    if (session_.fs.FsFreeSpace(session_.info.volume, freeSpace) != 0) {
        log(kNoVolumeInfo);
        return false;
    }
    session_.info.freeSpace = freeSpace;
    return true;
}

void FileOperations::uploadFiles() {
    const ConnectionBinding connection(session_.channel);
    if (!folderFromThisConnection(0)) return;
    log(kUploadStart);
    std::uint32_t freeSpace = 0;
    if (!readFreeSpace(freeSpace)) return;

    dialog_.title[0] = '\0';
    dialog_.options = FileDialogSetup::kExplorerMultiSelect;
    dialog_.choice.assign(FileDialogSetup::kChoiceBufferSize, '\0');
    dialog_.choiceTooLarge = false;
    if (!desktop_.dialogs.openFileDialog(dialog_)) {
        // Cancelled, the line ends as it stands; a choice the dialog could not hand back is said.
        if (dialog_.choiceTooLarge) log(kTooManyChosen);
        return;
    }
    uploadChosen(chosenFiles(), 0, freeSpace);
}

void FileOperations::uploadDroppedFiles(const std::vector<std::string>& paths, TreeNode folder) {
    const ConnectionBinding connection(session_.channel);
    if (!paths.empty() && !folderFromThisConnection(folder)) return;
    std::vector<ChosenFile> files;
    for (const std::string& path : paths) {
        PcPathInfo info;
        if (desktop_.files.lookUp(path, info) && info.folder) {
            // Nothing is sent: half a drop would leave the user to sort out what arrived.
            log(kUploadStart);
            log(lastComponent(path));
            log(kFolderDropped);
            return;
        }
        files.push_back(ChosenFile{path, std::string(lastComponent(path))});
    }
    if (files.empty()) return;
    log(kUploadStart);
    std::uint32_t freeSpace = 0;
    if (!readFreeSpace(freeSpace)) return;
    uploadChosen(std::move(files), folder, freeSpace);
}

void FileOperations::uploadChosen(std::vector<ChosenFile> files, TreeNode folder, std::uint32_t freeSpace) {
    std::uint64_t total = 0;
    for (ChosenFile& chosen : files) {
        PcPathInfo info;
        if (desktop_.files.lookUp(chosen.path, info) && !info.folder) chosen.listedSize = info.size;
        total += chosen.listedSize;
    }
    TransferMeter meter(desktop_.progress, desktop_.cancel, total);
    // Taken once: the folder chosen is where every file goes.
    const std::string folderPath = uploadFolder(folder);
    for (const ChosenFile& chosen : files) {
        if (uploadFile(chosen, folderPath, freeSpace, meter) == Step::Stop) return;
    }
    refreshIfAutomatic();
}

std::vector<FileOperations::ChosenFile> FileOperations::chosenFiles() {
    // The dialog has written into both buffers: their last bytes end every text read below.
    const std::span<char> chosen = openDialogBuffer(dialog_);
    chosen.back() = '\0';
    dialog_.title.back() = '\0';
    const char* buffer = chosen.data();
    const std::size_t size = chosen.size();
    auto textAt = [&](std::size_t at) { return std::string_view(buffer + at, std::strlen(buffer + at)); };

    const std::string_view first = textAt(0);
    std::size_t at = first.size() + 1;
    if (at >= size || buffer[at] == '\0') {
        // One file: its full path, and its name as the dialog gave it.
        std::string_view title = std::string_view(dialog_.title.data(), std::strlen(dialog_.title.data()));
        if (title.empty()) title = lastComponent(first);
        return {ChosenFile{std::string(first), std::string(title)}};
    }
    // Several: the folder, now the current one, then the names in it.
    std::vector<ChosenFile> files;
    while (at < size && buffer[at] != '\0') {
        const std::string_view name = textAt(at);
        files.push_back(ChosenFile{std::string(name), std::string(name)});
        at += name.size() + 1;
    }
    return files;
}

std::string FileOperations::uploadFolder(TreeNode folder) {
    if (!views_.treeMode()) return {};
    // Without a selected folder the files go to the volume's root.
    TreeNode node = folder != 0 ? folder : desktop_.controls.selectedTreeNode();
    if (node == 0) node = views_.rootNode();
    return views_.treePath(node);
}

FileOperations::Step FileOperations::uploadFile(const ChosenFile& chosen, const std::string& folderPath,
                                                std::uint32_t& freeSpace, TransferMeter& meter) {
    PcFile file(desktop_.files, desktop_.files.openExisting(chosen.path));
    if (!file) {
        log(kCannotOpen);
        return Step::Stop;
    }
    const std::string phoneName = folderPath + chosen.ownName;
    log(phoneName);

    std::uint64_t size = 0;
    if (!file.size(size) || size == 0 || size > 0xFFFFFFFFu || size >= freeSpace) {
        log(kSizeInvalid);
        meter.skip(chosen.listedSize);
        return Step::Refused;
    }
    // Esc pressed during the file before: this one is not begun.
    if (meter.stopRequested()) {
        log(kCanceled);
        return Step::Stop;
    }
    freeSpace -= static_cast<std::uint32_t>(size);

    const auto block = allocate_(static_cast<std::size_t>(size));
    const std::span<std::uint8_t> bytes(block.get(), block ? static_cast<std::size_t>(size) : 0);
    if (!block || !file.readAll(bytes)) return Step::Stop;
    file.close();

    const std::uint32_t entrySize = session_.files.recordSize();
    if (entrySize != 0 && phoneName.size() > entrySize - fs::kNameOverhead) return Step::Stop;
    switch (writePhoneFile(session_.fs, phoneName, bytes, &meter)) {
    case TransferOutcome::Done:
        break;
    case TransferOutcome::Stopped:
        // Closed already; what arrived is not the PC's file, so it does not stay on the phone.
        session_.fs.FsDelete(phoneName);
        log(kCanceled);
        return Step::Stop;
    case TransferOutcome::WriteFailed:
        // The phone refused the data: the file is not there as it is on the PC.
        log(kCannotWritePhoneFile);
        return Step::Stop;
    case TransferOutcome::CloseFailed:
        log(kCannotClosePhoneFile);
        return Step::Stop;
    default:
        return Step::Stop; // not opened: the transaction has said why
    }
    log(kOk);
    return Step::Done;
}

// --- Download

std::uint64_t FileOperations::selectedBytes() {
    std::uint64_t total = 0;
    forEachSelectedRow([&](FileEntry entry) {
        const std::uint32_t size = entry ? entrySize(entry) : 0;
        if (size != kNoSize) total += size;
        return true;
    });
    return total;
}

void FileOperations::downloadFiles() {
    const ConnectionBinding connection(session_.channel);
    if (!rowsFromThisConnection()) return;
    TransferMeter meter(desktop_.progress, desktop_.cancel, selectedBytes());
    bool folderChosen = false;
    const bool any = forEachSelectedRow([&](FileEntry entry) { return downloadFile(entry, folderChosen, meter); });
    if (!any) log(kNoFilesSelected);
}

bool FileOperations::downloadFile(FileEntry entry, bool& folderChosen, TransferMeter& meter) {
    log(kDownloadStart);
    if (!entry) {
        log(kSizeInvalid);
        return false;
    }
    // Copied out: the record lives in the list's block, which the save dialog's wait must not
    // be trusted to leave alone.
    const std::string name(entryName(entry));
    const std::uint16_t attribute = entryAttribute(entry);
    const std::uint32_t size = entrySize(entry);
    log(name);
    if (size == 0 || size == kNoSize) {
        log(kSizeInvalid);
        return false;
    }
    // Esc pressed during the file before: this one is not begun.
    if (meter.stopRequested()) {
        log(kCanceled);
        return false;
    }

    // The phone file is opened first: one the phone refuses costs the user no dialog.
    switch (openPhoneFile(session_.fs, session_.clock, name, attribute)) {
    case TransferOutcome::Done:
        break;
    case TransferOutcome::SeekFailed:
        log(kCannotSeek); // closed again already
        return false;
    default:
        log(kCannotOpen);
        return false;
    }
    // Open on the phone from here: every way out closes it.
    auto closePhoneFile = [&](const char* why) {
        session_.fs.FsClose();
        log(why);
        return false;
    };

    // The first file goes where the user says; the others beside it, under their own names. The
    // place is settled before the first piece is read, so the bytes can go straight to the PC
    // file as they arrive: memory stays at one piece whatever size the list claims.
    setDialogName(dialog_, pcFileName(name));
    if (!folderChosen) {
        dialog_.title[0] = '\0';
        dialog_.options = FileDialogSetup::kNoOptions;
        if (!desktop_.dialogs.saveFileDialog(dialog_)) return closePhoneFile(kCanceled);
        folderChosen = true;
    }
    const std::string path(dialogName(dialog_));
    PcFile file(desktop_.files, desktop_.files.createNew(path));
    if (!file) return closePhoneFile(kCannotCreate);
    // Until the last piece is written the file is not the phone's file: any failure removes it.
    // This download created it, so nothing that was there before is lost.
    auto discard = [&](const char* why) {
        file.close();
        desktop_.files.remove(path);
        log(why);
        return false;
    };

    PcFileSink sink(file);
    switch (readOpenPhoneFile(session_.fs, session_.clock, size, sink, &meter)) {
    case TransferOutcome::Done:
        break;
    case TransferOutcome::Stopped:
        return discard(kCanceled);
    case TransferOutcome::ReadFailed:
        return discard(kCannotRead);
    default:
        return discard(kCannotWrite);
    }
    if (!file.close()) return discard(kCannotWrite);
    log(kOk);
    return true;
}

// --- Delete

void FileOperations::deleteFiles() {
    const ConnectionBinding connection(session_.channel);
    if (!rowsFromThisConnection()) return;
    bool ended = false;
    const bool any = forEachSelectedRow([&](FileEntry entry) {
        log(kDeleteStart);
        if (!entry) {
            ended = true;
            return false;
        }
        // Copied out, so the file deleted is the one the user was asked about.
        const std::string name(entryName(entry));
        log(name);
        if (!desktop_.dialogs.askYesNo(deleteQuestion(name))) {
            log(kCanceled);
            ended = true;
            return false;
        }
        if (session_.fs.FsDelete(name) != 0) {
            log(kDeleteFail);
            ended = true;
            return false;
        }
        log(kOk);
        return true;
    });
    if (ended) return;
    if (!any) log(kNoFilesSelected);
    refreshIfAutomatic();
}

// --- Change attributes

void FileOperations::changeAttributes() {
    const ConnectionBinding connection(session_.channel);
    if (!rowsFromThisConnection()) return;
    const bool any = forEachSelectedRow([&](FileEntry entry) {
        log(kChangeStart);
        if (!entry) return false;
        const std::string name(entryName(entry));
        log(name);
        // Opening a phone file with an attribute value gives the file that attribute.
        const std::uint32_t value = attributeFieldValue(desktop_.controls.fieldText(EditField::Attribute));
        if (session_.fs.FsOpen(name, value) == 0) {
            log(kOk);
            session_.fs.FsClose();
        }
        return true;
    });
    if (!any) log(kNoFilesSelected);
    refreshIfAutomatic();
}

// --- Saving the log

void FileOperations::saveLog(std::string_view text) {
    setDialogName(dialog_, kLogFileName);
    dialog_.title[0] = '\0';
    dialog_.options = FileDialogSetup::kAskBeforeReplacing;
    if (!desktop_.dialogs.saveFileDialog(dialog_)) return;
    const std::string path(dialogName(dialog_));
    log(kSaveLogStart);
    log(path);
    // The dialog has asked before replacing a file of that name.
    PcFile file(desktop_.files, desktop_.files.createReplacing(path));
    if (!file) {
        log(kCannotCreate);
        return;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const bool written = file.writeAll(std::span<const std::uint8_t>(bytes, text.size()));
    if (!file.close() || !written) {
        // A cut-off log would pass for the whole one.
        desktop_.files.remove(path);
        log(kCannotWrite);
        return;
    }
    log(kOk);
}

} // namespace telvane
