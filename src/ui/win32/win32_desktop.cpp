#include "ui/win32/win32_desktop.h"

#include <cderr.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>
#include <string>

#include "services/wide_text.h"
#include "ui/win32/resource.h"

namespace telvane::win32 {

namespace {
constexpr char kFilter[] = "All files\0*.*\0";
// ReadFile and WriteFile move at most a DWORD's worth per call.
constexpr std::size_t kMaxPiece = 0x40000000;

HANDLE toFileHandle(PcFileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

PcFileHandle fromFileHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE || handle == nullptr ? 0 : reinterpret_cast<PcFileHandle>(handle);
}

PcFileHandle openFile(std::string_view path, DWORD disposition) {
    const std::string name(path);
    return fromFileHandle(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A choice of several files ends with an empty name. Some dialogs cut a choice that does not
// fit instead of refusing it: an answer whose end lies beyond the buffer is no answer.
bool choiceEnds(std::span<const char> names) {
    for (std::size_t i = 0; i + 1 < names.size(); ++i)
        if (names[i] == '\0' && names[i + 1] == '\0') return true;
    return false;
}

// COM on this thread for as long as a dialog needs it; a thread that has it already keeps it.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <class Interface>
using ComPointer = std::unique_ptr<Interface, ComRelease>;

struct TaskMemoryFree {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};

// The window's 8-bit texts are UTF-8 (the manifest's code page); COM takes UTF-16.
std::wstring wideFromUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}
} // namespace

// --- Dialogs

OPENFILENAMEA Win32Dialogs::dialogRecord(FileDialogSetup& setup, std::span<char> names, DWORD flags) const {
    OPENFILENAMEA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = window_ ? window_() : nullptr;
    record.lpstrFilter = kFilter;
    record.nFilterIndex = 1;
    record.lpstrFile = names.data();
    record.nMaxFile = static_cast<DWORD>(names.size());
    record.lpstrFileTitle = setup.title.data();
    record.nMaxFileTitle = static_cast<DWORD>(setup.title.size());
    record.Flags = flags;
    if (hook_ != nullptr) {
        record.Flags |= OFN_ENABLEHOOK | OFN_EXPLORER;
        record.lpfnHook = hook_;
        record.lCustData = hookData_;
    }
    return record;
}

void Win32Dialogs::enterChosenFolder(std::span<const char> names, const OPENFILENAMEA& record) {
    // The name starts after the folder: its separator, or (several files) the folder's 0.
    const std::size_t offset = record.nFileOffset;
    if (offset == 0 || offset >= names.size()) return;
    std::string folder(names.data(), offset);
    if (folder.back() == '\0') folder.pop_back();
    if (!folder.empty()) SetCurrentDirectoryA(folder.c_str());
}

bool Win32Dialogs::openFileDialog(FileDialogSetup& setup) {
    const DWORD flags = (setup.options & FileDialogSetup::kExplorerMultiSelect) ? OFN_EXPLORER | OFN_ALLOWMULTISELECT : 0;
    const std::span<char> names = openDialogBuffer(setup);
    OPENFILENAMEA record = dialogRecord(setup, names, flags);
    setup.choiceTooLarge = false;
    if (!GetOpenFileNameA(&record)) {
        // Then the buffer's first bytes hold the room the names would need, not a name.
        setup.choiceTooLarge = CommDlgExtendedError() == FNERR_BUFFERTOOSMALL;
        return false;
    }
    if ((flags & OFN_ALLOWMULTISELECT) && !choiceEnds(names)) {
        setup.choiceTooLarge = true;
        return false;
    }
    enterChosenFolder(names, record);
    return true;
}

bool Win32Dialogs::saveFileDialog(FileDialogSetup& setup) {
    const DWORD flags = (setup.options & FileDialogSetup::kAskBeforeReplacing) ? OFN_OVERWRITEPROMPT : 0;
    OPENFILENAMEA record = dialogRecord(setup, setup.name, flags);
    if (!GetSaveFileNameA(&record)) return false;
    enterChosenFolder(setup.name, record);
    return true;
}

bool Win32Dialogs::askYesNo(std::string_view text) {
    const std::string question(text);
    return shell_.messageBox(window_ ? window_() : nullptr, question.c_str(), nullptr, MB_YESNO) == IDYES;
}

bool Win32Dialogs::pickFolder(std::string_view title, std::string& folder, bool mayBeNew) {
    const ComScope com;
    if (!com.usable()) return false;
    IFileOpenDialog* created = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created))))
        return false;
    const ComPointer<IFileOpenDialog> dialog(created);
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    options |= FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM;
    // A typed path of a folder still to be made is taken as it is.
    if (mayBeNew) options &= ~static_cast<FILEOPENDIALOGOPTIONS>(FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST);
    dialog->SetOptions(options);
    dialog->SetTitle(wideFromUtf8(title).c_str());
    IShellItem* start = nullptr;
    if (!folder.empty() &&
        SUCCEEDED(SHCreateItemFromParsingName(wideFromUtf8(folder).c_str(), nullptr, IID_PPV_ARGS(&start)))) {
        const ComPointer<IShellItem> opened(start);
        dialog->SetFolder(start);
    }
    if (FAILED(dialog->Show(window_ ? window_() : nullptr))) return false;
    IShellItem* chosen = nullptr;
    if (FAILED(dialog->GetResult(&chosen))) return false;
    const ComPointer<IShellItem> item(chosen);
    PWSTR path = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) return false;
    const std::unique_ptr<wchar_t, TaskMemoryFree> owned(path);
    folder = utf8Text(std::u16string_view(reinterpret_cast<const char16_t*>(path)));
    return true;
}

bool Win32Dialogs::confirm(std::string_view caption, std::string_view text) {
    const std::string title(caption);
    const std::string question(text);
    return shell_.messageBox(window_ ? window_() : nullptr, question.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION) ==
           IDYES;
}

void Win32Dialogs::warn(std::string_view caption, std::string_view text) {
    const std::string title(caption);
    const std::string message(text);
    shell_.messageBox(window_ ? window_() : nullptr, message.c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
}

// --- Files

PcFileHandle Win32PcFiles::openExisting(std::string_view path) {
    return openFile(path, OPEN_EXISTING);
}

PcFileHandle Win32PcFiles::createNew(std::string_view path) {
    return openFile(path, CREATE_NEW);
}

PcFileHandle Win32PcFiles::createReplacing(std::string_view path) {
    return openFile(path, CREATE_ALWAYS);
}

bool Win32PcFiles::lookUp(std::string_view path, PcPathInfo& info) {
    const std::string name(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return false;
    info.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.size = info.folder ? 0 : (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
}

bool Win32PcFiles::size(PcFileHandle file, std::uint64_t& bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(toFileHandle(file), &size) || size.QuadPart < 0) return false;
    bytes = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool Win32PcFiles::read(PcFileHandle file, std::span<std::uint8_t> into, std::size_t& count) {
    count = 0;
    while (count < into.size()) {
        const auto piece = static_cast<DWORD>(std::min(into.size() - count, kMaxPiece));
        DWORD got = 0;
        if (!ReadFile(toFileHandle(file), into.data() + count, piece, &got, nullptr)) return false;
        if (got == 0) break; // the end of the file
        count += got;
    }
    return true;
}

bool Win32PcFiles::write(PcFileHandle file, std::span<const std::uint8_t> bytes, std::size_t& count) {
    count = 0;
    while (count < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - count, kMaxPiece));
        DWORD put = 0;
        if (!WriteFile(toFileHandle(file), bytes.data() + count, piece, &put, nullptr)) return false;
        if (put == 0) break; // the disk is full
        count += put;
    }
    return true;
}

bool Win32PcFiles::close(PcFileHandle file) {
    return CloseHandle(toFileHandle(file)) != FALSE;
}

bool Win32PcFiles::remove(std::string_view path) {
    const std::string name(path);
    return DeleteFileA(name.c_str()) != FALSE;
}

// --- Controls

int Win32OperationControls::nextSelectedRow(int after) {
    return static_cast<int>(SendDlgItemMessageA(window_(), IDC_LIST, LVM_GETNEXTITEM, static_cast<WPARAM>(after),
                                                MAKELPARAM(LVNI_SELECTED, 0)));
}

const void* Win32OperationControls::rowData(int row) {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendDlgItemMessageA(window_(), IDC_LIST, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
    return reinterpret_cast<const void*>(item.lParam);
}

TreeNode Win32OperationControls::selectedTreeNode() {
    return static_cast<TreeNode>(SendDlgItemMessageA(window_(), IDC_TREE, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

std::string Win32OperationControls::fieldText(EditField field) {
    HWND edit = GetDlgItem(window_(), static_cast<int>(field));
    const int length = GetWindowTextLengthA(edit);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(edit, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::clamp(got, 0, length)));
    return text;
}

void Win32OperationControls::setFieldText(EditField field, std::string_view text) {
    const std::string copy(text);
    SetDlgItemTextA(window_(), static_cast<int>(field), copy.c_str());
}

} // namespace telvane::win32
