#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

#include "ui/whole_phone/seem_editor.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/window_shell.h"

namespace telvane::win32 {

// The seem editor's dialog over a SeemEditor: the record as a grid of 16 bytes a row with an
// asterisk after each changed byte, the selected byte's value and a check box per bit, and the
// buttons Read, Compare with file..., Write (after a question) and Undo last.
class SeemEditorDialog {
public:
    // seem and record: what the Seem and rec fields start with. Dialogs other than the real ones
    // are for tests.
    SeemEditorDialog(HINSTANCE instance, SeemEditor& editor, WindowShell& shell, std::string seem,
                     std::string record, DesktopDialogs* dialogs = nullptr);
    ~SeemEditorDialog();
    SeemEditorDialog(const SeemEditorDialog&) = delete;
    SeemEditorDialog& operator=(const SeemEditorDialog&) = delete;

    INT_PTR runModal(HWND owner);
    // For a caller with its own message loop.
    HWND createModeless(HWND owner);
    HWND handle() const { return dialog_; }

private:
    static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    INT_PTR onInitDialog();
    INT_PTR onCommand(WORD id, WORD code);
    INT_PTR onNotify(const NMHDR& header);
    INT_PTR onClose();

    void onRead();
    void onCompare();
    void onWrite();
    void onUndo();
    void onOffsetChanged();
    void onValueChanged();
    void onBitClicked(unsigned bit);

    void insertColumns();
    // The grid, the selected byte, the count and the buttons, from the editor.
    void showRecord();
    void showRow(std::size_t row);
    void showSelected();
    void showState();
    void select(std::size_t offset);
    void setText(int id, const std::string& text);

    HINSTANCE instance_;
    SeemEditor& editor_;
    WindowShell& shell_;
    std::string seem_;
    std::string record_;
    Win32Dialogs ownDialogs_;
    DesktopDialogs& dialogs_;
    HWND dialog_ = nullptr;
    bool modal_ = false;
    std::size_t selected_ = 0;
    // Set while the dialog fills its own fields, whose change notifications are then no edits.
    bool filling_ = false;
};

} // namespace telvane::win32
