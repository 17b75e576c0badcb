#include "ui/win32/main_window.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "ui/win32/about_box.h"
#include "ui/win32/resource.h"
#include "ui/win32/screenshot.h"
#include "ui/win32/seem_editor_dialog.h"
#include "ui/win32/window_messages.h"

namespace telvane::win32 {

namespace {
constexpr const char* kNotConnected = "Not connected";
constexpr const char* kConnected = "Connected";
constexpr const char* kPhoneNotConnected = "phone not connected\r\n";

struct Column {
    const char* title;
    int width;
};
constexpr Column kColumns[] = {{"File", 224}, {"Attributes", 80}, {"Size", 64}, {"Type", 64}};
constexpr int kStatusEdges[] = {80, 208, 480, -1};
constexpr DWORD kListExtendedStyles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
constexpr int kSortImageFormat = LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT;
constexpr std::uint16_t kFirstSeemDefault = 0;
constexpr std::uint16_t kLastSeemDefault = 0x300;
// Marks a window as a main window for the key filter, which sees every dialog of the thread.
constexpr const char* kMainWindowProperty = "Telvane.MainWindow";

struct SystemItem {
    UINT id;
    const char* text;
};
constexpr SystemItem kSystemItems[] = {{IDM_SYS_BACKUP, "Back up phone..."},
                                       {IDM_SYS_VERIFY, "Verify backup..."},
                                       {IDM_SYS_RESTORE, "Restore from backup..."},
                                       {IDM_SYS_SEEM_EDITOR, "Seem editor..."},
                                       {IDM_SYS_SAVE_LOG, "Save log..."}};
// Windows keeps the low four bits of a system command's value for itself.
constexpr WPARAM kSystemCommandMask = 0xFFF0;

struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// What the list's sort compares by: the records behind the rows' item data.
struct SortContext {
    const FileList* files;
    int column;
    bool descending;
};

int CALLBACK compareListRows(LPARAM first, LPARAM second, LPARAM context) {
    const auto* sort = reinterpret_cast<const SortContext*>(context);
    return compareRows(sort->files->entryAt(reinterpret_cast<const void*>(first)),
                       sort->files->entryAt(reinterpret_cast<const void*>(second)), sort->column, sort->descending);
}

std::string seemText(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%.4x", static_cast<unsigned>(value));
    return text;
}

// Pixel sizes are given for 96 DPI; the window is drawn at the system's DPI.
int scaledToDpi(HWND window, int pixels) {
    HDC screen = GetDC(window);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr) ReleaseDC(window, screen);
    return pixels < 0 ? pixels : MulDiv(pixels, dpi, 96);
}

// Handles whatever this thread has been sent or posted, without waiting.
void handlePendingMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
} // namespace

MainWindow::MainWindow(HINSTANCE instance, DevicePort& port, Clock& clock, WindowShell& shell, HMENU contextMenu,
                       Settings settings)
    : instance_(instance),
      shell_(shell),
      contextMenu_(contextMenu),
      logMenu_(LoadMenuA(instance, MAKEINTRESOURCEA(IDM_LOG_CONTEXT))),
      settings_(std::move(settings)),
      session_(port, clock, log_, notifier_),
      views_(ViewControls{tree_, list_, status_, progress_, &ansiText}, log_, session_.fs, session_.seems,
             session_.files, session_.info, session_.channel),
      tray_(shell) {}

MainWindow::~MainWindow() {
    stopWatcher();
    if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
}

INT_PTR MainWindow::runModal() {
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, &MainWindow::dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND MainWindow::createModeless() {
    return CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, &MainWindow::dialogProc,
                              reinterpret_cast<LPARAM>(this));
}

void MainWindow::stopWatcher() {
    session_.stopWatcher(&handlePendingMessages);
}

INT_PTR CALLBACK MainWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) return FALSE; // messages before WM_INITDIALOG
    self->window_ = window;
    return self->dispatch(message, wParam, lParam);
}

INT_PTR MainWindow::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog();
    case WM_SYSCOMMAND:
        return onSysCommand(wParam);
    case WM_TRAYNOTIFY:
        return onTrayNotify(lParam);
    case WM_LINKSTATE:
        return onLinkState(wParam);
    case WM_COMMAND:
        return onCommand(wParam);
    case WM_NOTIFY:
        if (lParam == 0) return TRUE;
        return onNotify(*reinterpret_cast<const NMHDR*>(lParam), lParam);
    case WM_DROPFILES:
        return onDropFiles(reinterpret_cast<HDROP>(wParam));
    case WM_CONTEXTMENU:
        return onContextMenu(reinterpret_cast<HWND>(wParam), lParam);
    case WM_APPENDLOG:
        return onAppendLog(lParam);
    case WM_SAVESCREENSHOT:
        return onSaveScreenshot();
    case WM_DESTROY:
        onDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR MainWindow::onInitDialog() {
    // The log and the watcher's messages have somewhere to go from here on.
    log_.attach(window_);
    notifier_.attach(window_);

    tray_.setWindow(window_);
    HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_WINDOW));
    tray_.setIcon(icon);
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    insertColumns();
    SendDlgItemMessageA(window_, IDC_LIST, LVM_SETEXTENDEDLISTVIEWSTYLE, kListExtendedStyles, kListExtendedStyles);
    createImageList();

    SetDlgItemTextA(window_, IDC_SEEM_FIRST, seemText(kFirstSeemDefault).c_str());
    SetDlgItemTextA(window_, IDC_SEEM_LAST, seemText(kLastSeemDefault).c_str());

    session_.startWatcher();

    autoUpdate_ = static_cast<int>(GetPrivateProfileIntA("General", "AutoFileList", 0, settings_.iniPath.c_str()));
    // Only 1 turns the refresh on, so only 1 shows as checked; a first click then gives 1.
    CheckDlgButton(window_, IDC_AUTO_UPDATE, autoUpdate_ == 1 ? BST_CHECKED : BST_UNCHECKED);

    createStatusBar();
    // As much log as memory holds: the edit control's default would drop text past 30,000
    // characters, and a saved log would lack its end.
    SendDlgItemMessageA(window_, IDC_LOG, EM_SETLIMITTEXT, 0, 0);
    hookControls();
    addSystemMenuItems();
    installKeyFilter();
    return TRUE;
}

void MainWindow::addSystemMenuItems() {
    HMENU menu = GetSystemMenu(window_, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    for (const SystemItem& item : kSystemItems) AppendMenuA(menu, MF_STRING, item.id, item.text);
}

void MainWindow::installKeyFilter() {
    SetPropA(window_, kMainWindowProperty, reinterpret_cast<HANDLE>(this));
    keyFilter_.reset(SetWindowsHookExA(WH_MSGFILTER, &MainWindow::keyFilter, nullptr, GetCurrentThreadId()));
}

LRESULT CALLBACK MainWindow::keyFilter(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && lParam != 0) {
        const MSG& message = *reinterpret_cast<const MSG*>(lParam);
        const bool ctrlOnly = GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0 && GetKeyState(VK_SHIFT) >= 0;
        HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        const WPARAM item = message.wParam == 'B'   ? IDM_SYS_BACKUP
                            : message.wParam == 'E' ? IDM_SYS_SEEM_EDITOR
                            : message.wParam == 'R' ? IDM_SYS_RESTORE
                                                    : 0;
        if (message.message == WM_KEYDOWN && item != 0 && ctrlOnly && root != nullptr &&
            GetPropA(root, kMainWindowProperty) != nullptr) {
            // Chosen as the system menu's item would be, once this loop has gone on; a held key's
            // repeats choose nothing more.
            const bool repeated = (message.lParam & (LPARAM{1} << 30)) != 0;
            if (!repeated) PostMessageA(root, WM_SYSCOMMAND, item, 0);
            return TRUE;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MainWindow::hookControls() {
    // Drops are taken by the window and placed by their point: a subclass on the list would sit
    // in the way of every one of its messages, and a fill sends tens of thousands.
    DragAcceptFiles(window_, TRUE);
    SetWindowSubclass(GetDlgItem(window_, IDC_LOG), &MainWindow::controlProc, IDC_LOG, 0);
}

LRESULT CALLBACK MainWindow::controlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR) {
    constexpr WPARAM kCtrlS = 'S' & 0x1F; // the character Ctrl+S types
    HWND window = GetParent(control);
    switch (message) {
    case WM_CONTEXTMENU:
        // In place of the edit control's own menu.
        if (id != IDC_LOG) break;
        SendMessageA(window, WM_CONTEXTMENU, wParam, lParam);
        return 0;
    case WM_KEYDOWN:
        if (id != IDC_LOG || wParam != 'S' || GetKeyState(VK_CONTROL) >= 0) break;
        SendMessageA(window, WM_COMMAND, IDM_SAVE_LOG, 0);
        return 0;
    case WM_CHAR:
        if (id == IDC_LOG && wParam == kCtrlS) return 0; // handled as a key: no beep
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(control, &MainWindow::controlProc, id);
        break;
    default:
        break;
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

void MainWindow::insertColumns() {
    int index = 0;
    for (const Column& column : kColumns) {
        LVCOLUMNA data{};
        data.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        data.fmt = LVCFMT_LEFT;
        data.cx = scaledToDpi(window_, column.width);
        data.pszText = const_cast<char*>(column.title);
        data.iSubItem = index;
        SendDlgItemMessageA(window_, IDC_LIST, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
                            reinterpret_cast<LPARAM>(&data));
        ++index;
    }
}

void MainWindow::createImageList() {
    // The list view owns the image list from here on and destroys it with itself.
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLORDDB, 3, 0);
    if (images == nullptr) return;
    ImageList_SetBkColor(images, GetSysColor(COLOR_BTNFACE));
    for (int id : {IDI_SORT_UP, IDI_SORT_DOWN, IDI_FILE}) {
        IconHandle icon(static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16,
                                                      LR_LOADMAP3DCOLORS)));
        if (icon) ImageList_AddIcon(images, icon.get());
    }
    SendDlgItemMessageA(window_, IDC_LIST, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    ImageList_SetBkColor(images, RGB(0xFF, 0xFF, 0xFF));
}

void MainWindow::createStatusBar() {
    HWND bar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE, kNotConnected, window_, IDC_STATUS);
    if (bar == nullptr) return;
    int edges[std::size(kStatusEdges)];
    for (std::size_t i = 0; i < std::size(kStatusEdges); ++i) edges[i] = scaledToDpi(window_, kStatusEdges[i]);
    SendMessageA(bar, SB_SETPARTS, std::size(edges), reinterpret_cast<LPARAM>(edges));
}

INT_PTR MainWindow::onSysCommand(WPARAM command) {
    if (command == SC_CLOSE) {
        EndDialog(window_, 0);
        return TRUE;
    }
    if (command == SC_MINIMIZE) {
        // To the tray, never to the task bar.
        ShowWindow(window_, SW_HIDE);
        tray_.add();
        return TRUE;
    }
    switch (command & kSystemCommandMask) {
    case IDM_SYS_BACKUP:
        wholePhoneCommand(&BackupCommands::backUpPhone);
        return TRUE;
    case IDM_SYS_VERIFY:
        wholePhoneCommand(&BackupCommands::verifyBackup);
        return TRUE;
    case IDM_SYS_RESTORE:
        wholePhoneCommand(&BackupCommands::restoreBackup);
        return TRUE;
    case IDM_SYS_SEEM_EDITOR:
        openSeemEditor();
        return TRUE;
    case IDM_SYS_SAVE_LOG:
        if (!busy()) saveLog();
        return TRUE;
    default:
        return FALSE;
    }
}

void MainWindow::wholePhoneCommand(void (BackupCommands::*command)()) {
    if (busy()) return;
    phoneCommand([&] {
        if (backupCommands_ == nullptr) return;
        // The command reads the file list anew into the records the rows point into.
        views_.setRowsAside();
        (backupCommands_->*command)();
        views_.showRowsAgain();
        // A restore uploads: the list follows as it does after uploads.
        if (command == &BackupCommands::restoreBackup && autoUpdate_ == 1) views_.refreshFileList();
    });
}

void MainWindow::openSeemEditor() {
    if (busy()) return;
    if (!session_.link.isConnected()) {
        log_.appendLog(kPhoneNotConnected);
        return;
    }
    // Not bound to this connection as a whole: each read binds itself, and the editor refuses to
    // write to any phone but the one it read from.
    beginOperation();
    {
        SeemEditor editor(session_, log_,
                          backup::SeemUndoStore(undoFolder_.empty() ? backup::SeemUndoStore::defaultFolder() : undoFolder_));
        char seem[16] = {};
        char record[16] = {};
        GetDlgItemTextA(window_, IDC_UPLOAD_SEEM_NUMBER, seem, sizeof seem);
        GetDlgItemTextA(window_, IDC_UPLOAD_SEEM_RECORD, record, sizeof record);
        SeemEditorDialog dialog(instance_, editor, shell_, seem, record);
        dialog.runModal(window_);
    }
    endOperation();
}

INT_PTR MainWindow::onTrayNotify(LPARAM mouseMessage) {
    if (mouseMessage == WM_LBUTTONUP) {
        ShowWindow(window_, SW_SHOWNORMAL);
        tray_.remove();
    }
    return TRUE;
}

INT_PTR MainWindow::onLinkState(WPARAM state) {
    if (state == 1) {
        status_.setPart(0, kConnected);
        if (operationDepth_ > 0) {
            // A user operation is talking to the phone: read the new phone once it has ended.
            connectionPending_ = true;
            return TRUE;
        }
        beginOperation();
        readConnectedPhone();
        endOperation();
    } else if (state == 0) {
        status_.setPart(0, kNotConnected);
        connectionPending_ = false;
    }
    return TRUE;
}

void MainWindow::readConnectedPhone() {
    // Bound like a user operation: should the phone go again meanwhile, nothing of this reaches
    // the one that comes next; that one is read when its own connection is handled.
    const ConnectionBinding connection(session_.channel);
    handleConnection();
}

void MainWindow::handleConnection() {
    views_.showPhoneInfo();
    if (autoUpdate_ != 1) return;
    if (views_.refreshFileList() == 0 && !settings_.screenshotPath.empty() && !screenshotTaken_) {
        screenshotTaken_ = true;
        PostMessageA(window_, WM_SAVESCREENSHOT, 0, 0);
    }
}

void MainWindow::endOperation() {
    if (--operationDepth_ > 0) return;
    while (connectionPending_) {
        connectionPending_ = false;
        if (!session_.link.isConnected()) break;
        ++operationDepth_;
        readConnectedPhone();
        --operationDepth_;
    }
}

template <class Operation>
void MainWindow::phoneCommand(Operation operation) {
    if (!session_.link.isConnected()) {
        log_.appendLog(kPhoneNotConnected);
        return;
    }
    beginOperation();
    {
        // The operation belongs to the phone connected now; a link change during one of its
        // dialogs makes its further commands fail instead of reaching another phone.
        const ConnectionBinding connection(session_.channel);
        operation();
    }
    endOperation();
}

INT_PTR MainWindow::onCommand(WPARAM command) {
    // No command starts inside another (the box toggles itself, so its setting follows it).
    if (busy() && command != IDC_AUTO_UPDATE) return TRUE;
    // Only a whole wParam of an identifier counts: a click or a menu choice, never a notification.
    switch (command) {
    case IDC_UPDATE_LIST:
        phoneCommand([this] { views_.refreshFileList(); });
        break;
    case IDC_UPLOAD_FILES:
        phoneCommand([this] { if (fileCommands_) fileCommands_->uploadFiles(); });
        break;
    case IDC_DOWNLOAD_FILES:
    case IDM_DOWNLOAD:
        phoneCommand([this] { if (fileCommands_) fileCommands_->downloadFiles(); });
        break;
    case IDC_DELETE_FILES:
    case IDM_DELETE:
        phoneCommand([this] { if (fileCommands_) fileCommands_->deleteFiles(); });
        break;
    case IDC_CHANGE_ATTRIBUTES:
        phoneCommand([this] { if (fileCommands_) fileCommands_->changeAttributes(); });
        break;
    case IDC_DOWNLOAD_SEEMS:
        phoneCommand([this] { if (fileCommands_) fileCommands_->downloadSeems(); });
        break;
    case IDC_UPLOAD_SEEM:
        phoneCommand([this] { if (fileCommands_) fileCommands_->uploadSeem(); });
        break;
    case IDC_SUSPEND_PHONE:
        phoneCommand([this] { session_.seems.suspendPhone(); });
        break;
    case IDC_RESTART_PHONE:
        phoneCommand([this] { session_.seems.restartPhone(); });
        break;
    case IDC_UPDATE_RINGTONES:
        phoneCommand([] {});
        break;
    case IDC_ABOUT:
        showAboutBox(shell_, window_);
        break;
    case IDC_AUTO_UPDATE:
        toggleAutoUpdate();
        break;
    case IDM_SAVE_LOG:
        saveLog();
        break;
    case IDOK:
        // Enter: the dialog's, unless the list has the focus, where it downloads the selection.
        if (GetFocus() == GetDlgItem(window_, IDC_LIST)) onCommand(IDC_DOWNLOAD_FILES);
        break;
    default:
        break;
    }
    return TRUE;
}

void MainWindow::toggleAutoUpdate() {
    // The box has toggled itself; the INI file is left as it is.
    autoUpdate_ = autoUpdate_ == 1 ? 0 : 1;
}

INT_PTR MainWindow::onNotify(const NMHDR& header, LPARAM lParam) {
    if (header.idFrom == IDC_LIST && header.code == static_cast<UINT>(NM_RCLICK)) {
        if (!busy()) showContextMenu();
    } else if (header.idFrom == IDC_LIST && header.code == static_cast<UINT>(LVN_KEYDOWN)) {
        onListKeyDown(reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey);
    } else if (header.idFrom == IDC_LIST && header.code == static_cast<UINT>(NM_DBLCLK)) {
        // On a row; a double click beside the rows is no choice of files.
        if (reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem >= 0) onCommand(IDC_DOWNLOAD_FILES);
    } else if (header.idFrom == IDC_LIST && header.code == static_cast<UINT>(LVN_COLUMNCLICK)) {
        sortByColumn(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
    } else if (header.idFrom == IDC_TREE &&
               (header.code == static_cast<UINT>(TVN_SELCHANGEDA) || header.code == static_cast<UINT>(TVN_SELCHANGEDW)) &&
               views_.treeMode()) {
        views_.showFolder();
    }
    return TRUE;
}

void MainWindow::onListKeyDown(WORD key) {
    switch (key) {
    case VK_DELETE:
        onCommand(IDC_DELETE_FILES);
        break;
    case VK_F5:
        onCommand(IDC_UPDATE_LIST);
        break;
    case 'A':
        // Rows of a phone that is gone are no choice either: like the buttons, it needs the phone.
        if (GetKeyState(VK_CONTROL) < 0 && !busy()) phoneCommand([this] { selectAllRows(); });
        break;
    default:
        break;
    }
}

void MainWindow::selectAllRows() {
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    // Row -1: every row.
    SendDlgItemMessageA(window_, IDC_LIST, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
}

TreeNode MainWindow::treeNodeAt(POINT point) {
    TVHITTESTINFO hit{};
    hit.pt = point;
    const auto node = SendDlgItemMessageA(window_, IDC_TREE, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    return (hit.flags & TVHT_ONITEM) != 0 ? static_cast<TreeNode>(node) : 0;
}

INT_PTR MainWindow::onDropFiles(HDROP drop) {
    POINT point{}; // in the window's client area
    DragQueryPoint(drop, &point);
    HWND tree = GetDlgItem(window_, IDC_TREE);
    const bool onTree = ChildWindowFromPointEx(window_, point, CWP_SKIPINVISIBLE) == tree;
    MapWindowPoints(window_, tree, &point, 1);
    std::vector<std::string> paths;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        if (length == 0) continue;
        std::string path(length + 1, '\0');
        path.resize(DragQueryFileA(drop, i, path.data(), length + 1));
        paths.push_back(std::move(path));
    }
    // The drop's memory is the window's to free, whatever becomes of the files.
    DragFinish(drop);
    if (busy() || paths.empty()) return TRUE;

    // On a tree folder: into it; on the list (or beside the tree's nodes): the selected folder.
    const TreeNode folder = onTree ? treeNodeAt(point) : 0;
    phoneCommand([&] {
        if (fileCommands_) fileCommands_->uploadDroppedFiles(paths, folder);
    });
    return TRUE;
}

INT_PTR MainWindow::onContextMenu(HWND target, LPARAM screenPoint) {
    HWND pane = GetDlgItem(window_, IDC_LOG);
    if (target != pane) return FALSE;
    if (busy() || !logMenu_) return TRUE;
    POINT at{GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    if (screenPoint == -1) {
        RECT frame{};
        GetWindowRect(pane, &frame);
        at = POINT{frame.left, frame.top};
    }
    SetForegroundWindow(window_);
    shell_.trackPopupMenu(GetSubMenu(logMenu_.get(), 0), TPM_RIGHTBUTTON, at.x, at.y, window_);
    PostMessageA(window_, WM_NULL, 0, 0);
    return TRUE;
}

void MainWindow::saveLog() {
    if (fileCommands_ == nullptr) return;
    HWND pane = GetDlgItem(window_, IDC_LOG);
    const int length = GetWindowTextLengthA(pane);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    text.resize(static_cast<std::size_t>(std::max(GetWindowTextA(pane, text.data(), length + 1), 0)));
    // An operation like the others: nothing else starts while its dialog is open.
    beginOperation();
    fileCommands_->saveLog(text);
    endOperation();
}

void MainWindow::showContextMenu() {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(window_);
    shell_.trackPopupMenu(GetSubMenu(contextMenu_, 0), TPM_RIGHTBUTTON, cursor.x, cursor.y, window_);
    // Lets the menu close properly when the user clicks elsewhere.
    PostMessageA(window_, WM_NULL, 0, 0);
}

void MainWindow::sortByColumn(int column) {
    if (column == sortColumn_) sortDescending_ = !sortDescending_;

    LVCOLUMNA format{};
    format.mask = LVCF_FMT;
    format.fmt = 0;
    SendDlgItemMessageA(window_, IDC_LIST, LVM_SETCOLUMNA, static_cast<WPARAM>(sortColumn_),
                        reinterpret_cast<LPARAM>(&format));
    format.mask = LVCF_FMT | LVCF_IMAGE;
    format.fmt = kSortImageFormat;
    format.iImage = sortDescending_ ? 1 : 0;
    SendDlgItemMessageA(window_, IDC_LIST, LVM_SETCOLUMNA, static_cast<WPARAM>(column),
                        reinterpret_cast<LPARAM>(&format));
    sortColumn_ = column;

    SortContext context{&session_.files, column, sortDescending_};
    SendDlgItemMessageA(window_, IDC_LIST, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context),
                        reinterpret_cast<LPARAM>(&compareListRows));
}

INT_PTR MainWindow::onAppendLog(LPARAM text) {
    // Replaces the selection: at the caret, and over whatever the user has selected.
    SendDlgItemMessageA(window_, IDC_LOG, EM_REPLACESEL, FALSE, text);
    return TRUE;
}

INT_PTR MainWindow::onSaveScreenshot() {
    // Pictured as the user sees it: active, and painted to the last row.
    SetForegroundWindow(window_);
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    saveWindowPicture(window_, settings_.screenshotPath);
    return TRUE;
}

void MainWindow::onDestroy() {
    keyFilter_.reset();
    RemovePropA(window_, kMainWindowProperty);
    log_.detach();
    notifier_.detach();
}

} // namespace telvane::win32
