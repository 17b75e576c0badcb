// Back up, verify and restore through the real window: its keys and system menu, the real folder
// dialog (a path typed into it), the message boxes' kinds, the progress bar and Esc, on the
// virtual phone and a real folder.
#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backup/backup_folder.h"
#include "sim/phone_profile.h"
#include "sim/virtual_driver.h"
#include "support/fake_clock.h"
#include "support/tap_port.h"
#include "ui/win32/main_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/window_backup_commands.h"
#include "win/window/window_probe.h"

namespace telvane::win32 {
namespace {

namespace stdfs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace telvane::test;

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    return bytes;
}

// Answers the real folder dialog: once one is up, its path typed into the name field, then OK.
// A timer of the thread's, which the dialog's own message loop runs.
class FolderDialogScript {
public:
    FolderDialogScript() {
        script_ = this;
        timer_ = SetTimer(nullptr, 0, 20, &FolderDialogScript::tick);
    }
    ~FolderDialogScript() {
        KillTimer(nullptr, timer_);
        script_ = nullptr;
    }
    std::deque<std::string> paths;
    std::vector<std::string> titles; // of the dialogs answered
    std::vector<HWND> owners;

private:
    static BOOL CALLBACK answer(HWND candidate, LPARAM) {
        char kind[16] = {};
        GetClassNameA(candidate, kind, sizeof kind);
        if (std::string(kind) != "#32770" || !IsWindowVisible(candidate) || GetDlgItem(candidate, edt1) == nullptr ||
            script_->answered_.count(candidate) != 0 || script_->paths.empty())
            return TRUE;
        script_->answered_.insert(candidate);
        script_->titles.push_back(windowText(candidate));
        script_->owners.push_back(GetWindow(candidate, GW_OWNER));
        SetDlgItemTextA(candidate, edt1, script_->paths.front().c_str());
        script_->paths.pop_front();
        PostMessageA(candidate, WM_COMMAND, IDOK, 0);
        return FALSE;
    }
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        EnumThreadWindows(GetCurrentThreadId(), &FolderDialogScript::answer, 0);
    }

    static FolderDialogScript* script_;
    UINT_PTR timer_ = 0;
    std::set<HWND> answered_;
};
FolderDialogScript* FolderDialogScript::script_ = nullptr;

// Records the message boxes and answers Yes to questions.
class AnsweringShell final : public WindowShell {
public:
    struct Box {
        HWND owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    BOOL notifyIcon(DWORD, NOTIFYICONDATAA&) override { return TRUE; }
    int messageBox(HWND owner, const char* text, const char* caption, UINT type) override {
        boxes.push_back({owner, text, caption != nullptr ? caption : "", type});
        return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    }
    BOOL trackPopupMenu(HMENU, UINT, int, int, HWND) override { return TRUE; }
    std::vector<Box> boxes;
};

// A folder of the test's own in the temporary folder (Wine's folder dialog cannot see Linux's
// folder in memory, Z:\dev\shm, that the portable suites use).
std::string scratchFolder(const std::string& name) {
    const stdfs::path folder = stdfs::temp_directory_path() / (name + "-" + std::to_string(GetCurrentProcessId()));
    std::error_code ignored;
    stdfs::remove_all(folder, ignored);
    return folder.string();
}

class BackupCommandsTest : public ::testing::Test {
protected:
    BackupCommandsTest() : folder(scratchFolder("telvane-window-backup")) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        clock.setSleepHook([](std::uint32_t ms) {
            if (ms >= 1000) Sleep(1);
        });
    }
    ~BackupCommandsTest() override {
        if (driver) driver->shutdown();
        commands.reset();
        window.reset();
        std::error_code ignored;
        stdfs::remove_all(folder, ignored);
    }

    void open() {
        sim::PhoneProfile p;
        p.volume = "a";
        p.entrySize = 44;
        p.model = "Sim F";
        p.files = {{"keep.bin", 0, 0, pattern(1500, 1)}, {"big.bin", 0, 0, pattern(9000, 2)}};
        p.seems = {{0x60, 1, {1, 2, 3}}};
        ASSERT_EQ("", sim::checkProfile(p));
        driver = std::make_unique<sim::VirtualDriver>(std::make_unique<sim::VirtualPhone>(p));
        tap = std::make_unique<TapPort>(*driver);
        tap->afterRequest = [this, thread = GetCurrentThreadId()] {
            if (GetCurrentThreadId() == thread && duringRequests) duringRequests();
        };
        window = std::make_unique<MainWindow>(GetModuleHandleA(nullptr), *tap, clock, shell, nullptr,
                                              MainWindow::Settings{folder + ".ini", {}});
        commands = std::make_unique<WindowBackupCommands>(*window, shell);
        dialog = window->createModeless();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(pumpUntil(dialog, [&] { return statusPart(dialog, 0) == "Connected"; }));
    }
    // A system menu item chosen, its folder typed into the folder dialog.
    void choose(WPARAM item, const std::string& path) {
        SetDlgItemTextA(dialog, IDC_LOG, "");
        folders.paths.push_back(path);
        SendMessageA(dialog, WM_SYSCOMMAND, item, 0);
        pumpPending(dialog);
    }
    std::vector<backup::Snapshot> snapshots() { return backup::BackupFolder(folder).snapshots(); }
    std::optional<Bytes> phoneFile(const std::string& name) {
        return driver->withPhone([&](sim::VirtualPhone& p) -> std::optional<Bytes> {
            const sim::PhoneFile* f = p.fileSystem().find(name);
            return f ? std::optional<Bytes>(f->bytes) : std::nullopt;
        });
    }
    void changePhone(const std::string& name, Bytes bytes) {
        driver->withPhone([&](sim::VirtualPhone& p) {
            p.fileSystem().remove(name);
            p.fileSystem().add({name, 0, 0, std::move(bytes)});
        });
    }

    std::string folder;
    FakeClock clock;
    AnsweringShell shell;
    FolderDialogScript folders;
    std::unique_ptr<sim::VirtualDriver> driver;
    std::unique_ptr<TapPort> tap;
    // Runs after every request the window's thread makes: inside the commands.
    std::function<void()> duringRequests;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WindowBackupCommands> commands;
    HWND dialog = nullptr;
};

TEST_F(BackupCommandsTest, BackUpIntoANewFolderTyped_VerifyFindsTheChangedFile_RestoreAfterItsPlanPutsItBack) {
    open();
    SetDlgItemTextA(dialog, IDC_LOG, "");
    folders.paths.push_back(folder); // not there yet: the backup makes it
    pressKey(dialog, GetDlgItem(dialog, IDC_LIST), 'B', true);
    pumpPending(dialog);
    EXPECT_EQ("Backing up Sim F into " + folder + "...\r\nBackup of Sim F in " + folder +
                  ": 2 files, 2 seem records ok\r\n",
              logText(dialog));
    ASSERT_EQ(std::vector<std::string>{"Back up phone"}, folders.titles);
    EXPECT_EQ(dialog, folders.owners[0]);
    const auto made = snapshots();
    ASSERT_EQ(1u, made.size());
    EXPECT_TRUE(stdfs::is_regular_file(made[0].folder / "files" / "big.bin"));
    PBRANGE range{};
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iHigh, SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));

    Bytes changed = pattern(1500, 1);
    changed[700] ^= 1;
    changePhone("keep.bin", changed);
    choose(IDM_SYS_VERIFY, folder);
    EXPECT_EQ("Verifying " + folder + " against Sim F...\r\nkeep.bin: bytes differ\r\nVerify of " + folder +
                  ": 1 difference\r\n",
              logText(dialog));
    ASSERT_EQ(1u, shell.boxes.size());
    EXPECT_EQ(dialog, shell.boxes[0].owner);
    EXPECT_EQ("Verify backup", shell.boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), shell.boxes[0].type);
    EXPECT_EQ("The phone differs from the backup in " + made[0].folder.string() + ": 1 difference, each named in the log.",
              shell.boxes[0].text);

    driver->withPhone([](sim::VirtualPhone& p) { p.fileSystem().remove("big.bin"); });
    SetDlgItemTextA(dialog, IDC_LOG, "");
    folders.paths.push_back(folder);
    pressKey(dialog, GetDlgItem(dialog, IDC_LOG), 'R', true);
    pumpPending(dialog);
    ASSERT_EQ(2u, shell.boxes.size());
    const auto& question = shell.boxes[1];
    EXPECT_EQ(dialog, question.owner);
    EXPECT_EQ("Restore from backup", question.caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), question.type);
    EXPECT_EQ(0u, question.text.find("Restore from backup " + made[0].folder.string() + " onto Sim F?\r\n\r\n"
                                     "1 files to upload, 1 to replace; 0 seem records to write."));
    EXPECT_EQ("Planning the restore of Sim F from " + folder + "...\r\nRestore of Sim F from " + folder +
                  ": 2 files, 0 seem records written ok\r\n",
              logText(dialog));
    EXPECT_EQ(pattern(1500, 1), phoneFile("keep.bin"));
    EXPECT_EQ(pattern(9000, 2), phoneFile("big.bin"));
}

TEST_F(BackupCommandsTest, EscDuringABackup_TheFolderKeepsItsEarlierBackup_PaintedButDeafMeanwhile) {
    open();
    choose(IDM_SYS_BACKUP, folder);
    const auto earlier = snapshots();
    ASSERT_EQ(1u, earlier.size());
    changePhone("big.bin", pattern(9000, 7));

    HWND list = GetDlgItem(dialog, IDC_LIST);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    HWND update = GetDlgItem(dialog, IDC_UPDATE_LIST);
    bool othersSent = false;
    bool escSent = false;
    bool paintedMeanwhile = false;
    duringRequests = [&] {
        const LRESULT position = SendMessageA(bar, PBM_GETPOS, 0, 0);
        if (!othersSent && position >= 3 * 1024) {
            // Within big.bin: a repaint due, a click on a button and a key for other commands.
            InvalidateRect(list, nullptr, TRUE);
            PostMessageA(update, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
            PostMessageA(update, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
            PostMessageA(list, WM_KEYDOWN, VK_F5, 1);
            othersSent = true;
        } else if (othersSent && !escSent && position >= 5 * 1024) {
            paintedMeanwhile = !GetUpdateRect(list, nullptr, FALSE);
            PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 1);
            escSent = true;
        }
    };
    SendMessageA(bar, PBM_SETPOS, 0, 0); // the first backup left it at its end
    choose(IDM_SYS_BACKUP, folder);
    duringRequests = nullptr;
    pumpPending(dialog);

    ASSERT_TRUE(escSent);
    EXPECT_TRUE(paintedMeanwhile);
    EXPECT_EQ("Backing up Sim F into " + folder + "...\r\nBackup of Sim F in " + folder +
                  " stopped: the backups made before are as they were\r\n",
              logText(dialog));
    const auto after = snapshots();
    ASSERT_EQ(1u, after.size());
    EXPECT_EQ(earlier[0].name, after[0].name);
    EXPECT_EQ(earlier[0].manifest.files.size(), after[0].manifest.files.size());
    EXPECT_EQ(earlier[0].manifest.files[0].sha256, after[0].manifest.files[0].sha256);
    EXPECT_EQ(earlier[0].manifest.files[1].sha256, after[0].manifest.files[1].sha256);
    EXPECT_EQ(2u, folders.titles.size());
    EXPECT_TRUE(shell.boxes.empty());
}

} // namespace
} // namespace telvane::win32
