#pragma once
#include <windows.h>
#include <commdlg.h>

#include <functional>

#include "ui/desktop.h"
#include "ui/win32/window_shell.h"

namespace telvane::win32 {

// The main window's handle, read when needed: it exists only once the dialog has been created.
using WindowGetter = std::function<HWND()>;

// The open and save dialogs and the Yes/No question, all owned by the main window, so the
// window takes no input while one of them is open.
class Win32Dialogs final : public DesktopDialogs {
public:
    Win32Dialogs(WindowGetter window, WindowShell& shell) : window_(std::move(window)), shell_(shell) {}

    bool openFileDialog(FileDialogSetup& setup) override;
    bool saveFileDialog(FileDialogSetup& setup) override;
    bool askYesNo(std::string_view text) override;
    // The common file dialog choosing a folder (a COM object: COM is set up for the call).
    bool pickFolder(std::string_view title, std::string& folder, bool mayBeNew) override;
    bool confirm(std::string_view caption, std::string_view text) override;
    void warn(std::string_view caption, std::string_view text) override;

    // For tests of the real dialogs: every dialog runs with this hook (explorer style).
    void setHook(LPOFNHOOKPROC hook, LPARAM data) {
        hook_ = hook;
        hookData_ = data;
    }

private:
    // The record for a dialog that writes its answer into names.
    OPENFILENAMEA dialogRecord(FileDialogSetup& setup, std::span<char> names, DWORD flags) const;
    // Makes the chosen file's folder the current folder.
    static void enterChosenFolder(std::span<const char> names, const OPENFILENAMEA& record);

    WindowGetter window_;
    WindowShell& shell_;
    LPOFNHOOKPROC hook_ = nullptr;
    LPARAM hookData_ = 0;
};

// PC files through the kernel: read and write access, no sharing.
class Win32PcFiles final : public PcFiles {
public:
    PcFileHandle openExisting(std::string_view path) override;
    PcFileHandle createNew(std::string_view path) override;
    PcFileHandle createReplacing(std::string_view path) override;
    bool lookUp(std::string_view path, PcPathInfo& info) override;
    bool size(PcFileHandle file, std::uint64_t& bytes) override;
    bool read(PcFileHandle file, std::span<std::uint8_t> into, std::size_t& count) override;
    bool write(PcFileHandle file, std::span<const std::uint8_t> bytes, std::size_t& count) override;
    bool close(PcFileHandle file) override;
    bool remove(std::string_view path) override;
};

// The file list's selection, the tree's selected node and the edit fields of the main window.
class Win32OperationControls final : public OperationControls {
public:
    explicit Win32OperationControls(WindowGetter window) : window_(std::move(window)) {}

    int nextSelectedRow(int after) override;
    const void* rowData(int row) override;
    TreeNode selectedTreeNode() override;
    std::string fieldText(EditField field) override;
    void setFieldText(EditField field, std::string_view text) override;

private:
    WindowGetter window_;
};

} // namespace telvane::win32
