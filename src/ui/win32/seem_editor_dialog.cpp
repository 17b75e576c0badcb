#include "ui/win32/seem_editor_dialog.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "backup/seem_edit.h"
#include "ui/win32/resource.h"

namespace telvane::win32 {

namespace {

constexpr std::size_t kRowBytes = 16;
constexpr const char* kCaption = "Seem editor";
// An asterisk after a byte marks it changed; the column is wide enough for it.
constexpr int kOffsetWidth = 44;
constexpr int kByteWidth = 24;
constexpr int kTextWidth = 128;

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%.*x", digits, value);
    return text;
}

// A hexadecimal number of at most `digits` digits typed into a field; nothing for anything else.
std::optional<unsigned> parseHex(const std::string& text, std::size_t digits) {
    if (text.empty() || text.size() > digits) return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return static_cast<unsigned>(value);
}

std::string fieldText(HWND dialog, int id) {
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

} // namespace

SeemEditorDialog::SeemEditorDialog(HINSTANCE instance, SeemEditor& editor, WindowShell& shell, std::string seem,
                                   std::string record, DesktopDialogs* dialogs)
    : instance_(instance),
      editor_(editor),
      shell_(shell),
      seem_(std::move(seem)),
      record_(std::move(record)),
      ownDialogs_([this] { return dialog_; }, shell),
      dialogs_(dialogs != nullptr ? *dialogs : ownDialogs_) {}

SeemEditorDialog::~SeemEditorDialog() {
    if (!modal_ && dialog_ != nullptr && IsWindow(dialog_)) DestroyWindow(dialog_);
}

INT_PTR SeemEditorDialog::runModal(HWND owner) {
    modal_ = true;
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_SEEM_EDITOR), owner, &SeemEditorDialog::dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND SeemEditorDialog::createModeless(HWND owner) {
    return CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_SEEM_EDITOR), owner, &SeemEditorDialog::dialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK SeemEditorDialog::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<SeemEditorDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    self->dialog_ = dialog;
    return self->dispatch(message, wParam, lParam);
}

INT_PTR SeemEditorDialog::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog();
    case WM_COMMAND:
        return onCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY:
        if (lParam == 0) return FALSE;
        return onNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CLOSE:
        return onClose();
    default:
        return FALSE;
    }
}

INT_PTR SeemEditorDialog::onInitDialog() {
    insertColumns();
    SendDlgItemMessageA(dialog_, IDC_SEEM_EDITOR_GRID, LVM_SETEXTENDEDLISTVIEWSTYLE,
                        LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    SendDlgItemMessageA(dialog_, IDC_SEEM_EDITOR_VALUE, EM_SETLIMITTEXT, 2, 0);
    filling_ = true;
    setText(IDC_SEEM_EDITOR_SEEM, seem_);
    setText(IDC_SEEM_EDITOR_RECORD, record_);
    filling_ = false;
    showRecord();
    return TRUE;
}

INT_PTR SeemEditorDialog::onCommand(WORD id, WORD code) {
    if (id >= IDC_SEEM_EDITOR_BIT0 && id < IDC_SEEM_EDITOR_BIT0 + 8) {
        if (code == BN_CLICKED) onBitClicked(id - IDC_SEEM_EDITOR_BIT0);
        return TRUE;
    }
    switch (id) {
    case IDC_SEEM_EDITOR_READ:
        if (code == BN_CLICKED) onRead();
        return TRUE;
    case IDC_SEEM_EDITOR_COMPARE:
        if (code == BN_CLICKED) onCompare();
        return TRUE;
    case IDC_SEEM_EDITOR_WRITE:
        if (code == BN_CLICKED) onWrite();
        return TRUE;
    case IDC_SEEM_EDITOR_UNDO:
        if (code == BN_CLICKED) onUndo();
        return TRUE;
    case IDC_SEEM_EDITOR_OFFSET:
        if (code == EN_CHANGE && !filling_) onOffsetChanged();
        return TRUE;
    case IDC_SEEM_EDITOR_VALUE:
        if (code == EN_CHANGE && !filling_) onValueChanged();
        return TRUE;
    case IDCANCEL:
        return onClose();
    default:
        return FALSE;
    }
}

INT_PTR SeemEditorDialog::onNotify(const NMHDR& header) {
    if (header.idFrom != IDC_SEEM_EDITOR_GRID || header.code != NM_CLICK) return FALSE;
    // The byte under the click becomes the selected one.
    const auto& click = reinterpret_cast<const NMITEMACTIVATE&>(header);
    LVHITTESTINFO hit{};
    hit.pt = click.ptAction;
    SendMessageA(header.hwndFrom, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.iItem >= 0 && hit.iSubItem >= 1 && hit.iSubItem <= static_cast<int>(kRowBytes))
        select(static_cast<std::size_t>(hit.iItem) * kRowBytes + static_cast<std::size_t>(hit.iSubItem - 1));
    return TRUE;
}

INT_PTR SeemEditorDialog::onClose() {
    if (modal_) EndDialog(dialog_, IDCANCEL);
    else DestroyWindow(dialog_);
    return TRUE;
}

void SeemEditorDialog::onRead() {
    const auto seem = parseHex(fieldText(dialog_, IDC_SEEM_EDITOR_SEEM), 4);
    const auto record = parseHex(fieldText(dialog_, IDC_SEEM_EDITOR_RECORD), 4);
    if (!seem || !record) {
        setText(IDC_SEEM_EDITOR_WHY, "Seem and rec are hexadecimal numbers of up to 4 digits.");
        return;
    }
    editor_.read(static_cast<std::uint16_t>(*seem), static_cast<std::uint16_t>(*record));
    selected_ = 0;
    setText(IDC_SEEM_EDITOR_COMPARISON, "");
    showRecord();
}

void SeemEditorDialog::onCompare() {
    if (!editor_.loaded()) return;
    FileDialogSetup setup;
    if (!dialogs_.openFileDialog(setup)) return;
    std::filesystem::path chosen(std::string(dialogName(setup)));
    // A backup's manifest stands for its backup folder: the folder's newest record is compared.
    if (chosen.filename() == "manifest.json") chosen = chosen.parent_path().parent_path();
    std::string text;
    for (const std::string& line : editor_.compareWith(chosen)) text += line + "\r\n";
    setText(IDC_SEEM_EDITOR_COMPARISON, text);
}

void SeemEditorDialog::onWrite() {
    if (!editor_.loaded() || !editor_.whyNotWritable().empty() || editor_.changedCount() == 0) return;
    const std::string question = "Write " + backup::seemRecordLabel(editor_.seem(), editor_.record()) +
                                 " to the phone? " + editor_.changedText() +
                                 ".\r\n\r\nThe record as it is now is saved first, for Undo last.";
    if (shell_.messageBox(dialog_, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    editor_.write();
    showRecord();
}

void SeemEditorDialog::onUndo() {
    editor_.undoLast();
    showRecord();
}

void SeemEditorDialog::onOffsetChanged() {
    const auto offset = parseHex(fieldText(dialog_, IDC_SEEM_EDITOR_OFFSET), 4);
    if (!offset || *offset >= editor_.bytes().size()) return;
    selected_ = *offset;
    filling_ = true;
    showSelected();
    filling_ = false;
    showState();
}

void SeemEditorDialog::onValueChanged() {
    const auto value = parseHex(fieldText(dialog_, IDC_SEEM_EDITOR_VALUE), 2);
    if (!value || !editor_.setByte(selected_, static_cast<std::uint8_t>(*value))) return;
    filling_ = true;
    for (unsigned bit = 0; bit < 8; ++bit)
        CheckDlgButton(dialog_, IDC_SEEM_EDITOR_BIT0 + static_cast<int>(bit),
                       (*value >> bit) & 1 ? BST_CHECKED : BST_UNCHECKED);
    filling_ = false;
    showRow(selected_ / kRowBytes);
    showState();
}

void SeemEditorDialog::onBitClicked(unsigned bit) {
    const bool set = IsDlgButtonChecked(dialog_, IDC_SEEM_EDITOR_BIT0 + static_cast<int>(bit)) == BST_CHECKED;
    if (!editor_.setBit(selected_, bit, set)) return;
    filling_ = true;
    setText(IDC_SEEM_EDITOR_VALUE, hex(editor_.bytes()[selected_], 2));
    filling_ = false;
    showRow(selected_ / kRowBytes);
    showState();
}

void SeemEditorDialog::insertColumns() {
    HWND grid = GetDlgItem(dialog_, IDC_SEEM_EDITOR_GRID);
    auto add = [grid](int index, const std::string& title, int width) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = width;
        column.pszText = const_cast<char*>(title.c_str());
        column.iSubItem = index;
        SendMessageA(grid, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
    };
    add(0, "Offset", kOffsetWidth);
    for (unsigned i = 0; i < kRowBytes; ++i) add(static_cast<int>(i) + 1, hex(i, 1), kByteWidth);
    add(static_cast<int>(kRowBytes) + 1, "Text", kTextWidth);
}

void SeemEditorDialog::showRecord() {
    HWND grid = GetDlgItem(dialog_, IDC_SEEM_EDITOR_GRID);
    SendMessageA(grid, LVM_DELETEALLITEMS, 0, 0);
    const std::size_t rows = (editor_.bytes().size() + kRowBytes - 1) / kRowBytes;
    for (std::size_t row = 0; row < rows; ++row) {
        const std::string offset = hex(static_cast<unsigned>(row * kRowBytes), 4);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(row);
        item.pszText = const_cast<char*>(offset.c_str());
        SendMessageA(grid, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        showRow(row);
    }
    filling_ = true;
    showSelected();
    filling_ = false;
    showState();
}

void SeemEditorDialog::showRow(std::size_t row) {
    HWND grid = GetDlgItem(dialog_, IDC_SEEM_EDITOR_GRID);
    const auto& bytes = editor_.bytes();
    std::string printable;
    auto setCell = [grid, row](int column, const std::string& text) {
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = const_cast<char*>(text.c_str());
        SendMessageA(grid, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    };
    for (std::size_t i = 0; i < kRowBytes; ++i) {
        const std::size_t offset = row * kRowBytes + i;
        if (offset >= bytes.size()) break;
        setCell(static_cast<int>(i) + 1, hex(bytes[offset], 2) + (editor_.changed(offset) ? "*" : ""));
        printable += bytes[offset] >= 0x20 && bytes[offset] < 0x7F ? static_cast<char>(bytes[offset]) : '.';
    }
    setCell(static_cast<int>(kRowBytes) + 1, printable);
}

void SeemEditorDialog::showSelected() {
    const bool any = selected_ < editor_.bytes().size();
    const unsigned value = any ? editor_.bytes()[selected_] : 0;
    setText(IDC_SEEM_EDITOR_OFFSET, any ? hex(static_cast<unsigned>(selected_), 4) : "");
    setText(IDC_SEEM_EDITOR_VALUE, any ? hex(value, 2) : "");
    for (unsigned bit = 0; bit < 8; ++bit) {
        const int id = IDC_SEEM_EDITOR_BIT0 + static_cast<int>(bit);
        CheckDlgButton(dialog_, id, (value >> bit) & 1 ? BST_CHECKED : BST_UNCHECKED);
        EnableWindow(GetDlgItem(dialog_, id), any);
    }
    EnableWindow(GetDlgItem(dialog_, IDC_SEEM_EDITOR_VALUE), any);
}

void SeemEditorDialog::showState() {
    const bool loaded = editor_.loaded();
    const std::string why = editor_.whyNotWritable();
    setText(IDC_SEEM_EDITOR_CHANGED, loaded ? editor_.changedText() : "");
    setText(IDC_SEEM_EDITOR_WHY, why);
    EnableWindow(GetDlgItem(dialog_, IDC_SEEM_EDITOR_COMPARE), loaded);
    EnableWindow(GetDlgItem(dialog_, IDC_SEEM_EDITOR_WRITE), why.empty() && editor_.changedCount() > 0);
    EnableWindow(GetDlgItem(dialog_, IDC_SEEM_EDITOR_UNDO), loaded && !editor_.lastUndo().empty());
}

void SeemEditorDialog::select(std::size_t offset) {
    if (offset >= editor_.bytes().size()) return;
    selected_ = offset;
    filling_ = true;
    showSelected();
    filling_ = false;
}

void SeemEditorDialog::setText(int id, const std::string& text) {
    SetDlgItemTextA(dialog_, id, text.c_str());
}

} // namespace telvane::win32
