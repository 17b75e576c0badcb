#pragma once
#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>

#include "common/clock.h"
#include "link/device_port.h"
#include "ui/backup_commands.h"
#include "ui/browser_views.h"
#include "ui/file_commands.h"
#include "session/phone_session.h"
#include "ui/win32/tray_icon.h"
#include "ui/win32/win32_view_controls.h"
#include "ui/win32/window_log.h"
#include "ui/win32/window_shell.h"

namespace telvane::win32 {

// The program's one window: dialog 101 with the folder tree, the file list, the log pane and the
// status bar, over one phone session. The dialog procedure only dispatches; each message has
// its own handler. Everything runs on the window's thread except the watcher, which reaches the
// window through sent messages only.
class MainWindow {
public:
    struct Settings {
        std::string iniPath;        // where "AutoFileList" is read from
        std::string screenshotPath; // when set, a picture of the window is saved once files are listed
    };

    // contextMenu: menu 101, whose first popup is the list's context menu; held, not released.
    MainWindow(HINSTANCE instance, DevicePort& port, Clock& clock, WindowShell& shell, HMENU contextMenu,
               Settings settings);
    // Ends the watcher (the port must let a pending wait for removal return) and the window.
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Runs the window as a modal dialog without an owner; the dialog's result.
    INT_PTR runModal();
    // Creates the window as a modeless dialog, for a caller with its own message loop.
    HWND createModeless();

    // Where the file and seem commands go once the phone is known to be connected.
    void setFileCommands(FileCommands* commands) { fileCommands_ = commands; }
    // Where the seem editor keeps its undo copies; the user's own folder unless set.
    void setUndoFolder(std::filesystem::path folder) { undoFolder_ = std::move(folder); }
    // Where the system menu's back up, verify and restore go, likewise.
    void setBackupCommands(BackupCommands* commands) { backupCommands_ = commands; }

    HWND handle() const { return window_; }
    PhoneSession& session() { return session_; }
    BrowserViews& views() { return views_; }
    LogSink& log() { return log_; }
    // The progress bar, for every operation that shows one.
    Progress& progress() { return progress_; }
    int autoUpdate() const { return autoUpdate_; }
    int sortColumn() const { return sortColumn_; }
    bool sortDescending() const { return sortDescending_; }
    const TrayIcon& trayIcon() const { return tray_; }

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    INT_PTR onInitDialog();
    INT_PTR onSysCommand(WPARAM command);
    INT_PTR onTrayNotify(LPARAM mouseMessage);
    INT_PTR onLinkState(WPARAM state);
    INT_PTR onCommand(WPARAM command);
    INT_PTR onNotify(const NMHDR& header, LPARAM lParam);
    // Files dropped on the window: on a tree folder into it, elsewhere into the selected folder.
    INT_PTR onDropFiles(HDROP drop);
    // A context menu asked for on target, at a screen position (-1: from the keyboard).
    INT_PTR onContextMenu(HWND target, LPARAM screenPoint);
    INT_PTR onAppendLog(LPARAM text);
    INT_PTR onSaveScreenshot();
    void onDestroy();

    void insertColumns();
    void createImageList();
    void createStatusBar();
    // Back up, verify, restore, the seem editor and save the log, below Windows' own items.
    void addSystemMenuItems();
    // Ctrl+B, Ctrl+E and Ctrl+R anywhere in the window. The window's keys pass this thread's message
    // filter inside the dialog's own loop, before any control sees them.
    void installKeyFilter();
    static LRESULT CALLBACK keyFilter(int code, WPARAM wParam, LPARAM lParam);
    // A whole-phone command: refused without a phone, else run as a user operation.
    void wholePhoneCommand(void (BackupCommands::*command)());
    // The seem editor on the Seem and rec fields' record: refused without a phone, else its dialog
    // for as long as the user keeps it open.
    void openSeemEditor();
    void showContextMenu();
    void sortByColumn(int column);
    void toggleAutoUpdate();
    // Del, F5, Ctrl+A in the list.
    void onListKeyDown(WORD key);
    void selectAllRows();
    // The tree's node at a point of its client area, or 0.
    TreeNode treeNodeAt(POINT point);
    void saveLog();
    // The window takes dropped files; the log pane has its own context menu and Ctrl+S, passed on
    // to the window as messages.
    void hookControls();
    static LRESULT CALLBACK controlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR data);
    // While a user operation runs (a transfer, or one of its dialogs) the window starts no other.
    bool busy() const { return operationDepth_ > 0; }

    // A command that talks to the phone: refused without one, else run as a user operation.
    template <class Operation>
    void phoneCommand(Operation operation);
    // Brackets a phone operation; a connection that arrived meanwhile is handled at the end.
    void beginOperation() { ++operationDepth_; }
    void endOperation();
    // The phone's identity and, when asked for, its file list, after a connection.
    void handleConnection();
    // handleConnection bound to the connection current now.
    void readConnectedPhone();
    // Ends the watcher while this thread keeps handling the messages it sends.
    void stopWatcher();

    HINSTANCE instance_;
    WindowShell& shell_;
    HMENU contextMenu_;
    struct MenuDeleter {
        void operator()(HMENU menu) const { DestroyMenu(menu); }
    };
    std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter> logMenu_;
    struct HookDeleter {
        void operator()(HHOOK hook) const { UnhookWindowsHookEx(hook); }
    };
    std::unique_ptr<std::remove_pointer_t<HHOOK>, HookDeleter> keyFilter_;
    Settings settings_;
    HWND window_ = nullptr;

    WindowLog log_;
    WindowLinkNotifier notifier_;
    PhoneSession session_;
    Win32Tree tree_{window_};
    Win32List list_{window_};
    Win32Status status_{window_};
    Win32Progress progress_{window_};
    BrowserViews views_;
    TrayIcon tray_;
    FileCommands* fileCommands_ = nullptr;
    BackupCommands* backupCommands_ = nullptr;
    std::filesystem::path undoFolder_;

    int autoUpdate_ = 0;
    int sortColumn_ = 0;
    bool sortDescending_ = false;
    int operationDepth_ = 0;
    bool connectionPending_ = false;
    bool screenshotTaken_ = false;
};

} // namespace telvane::win32
