// The seem editor through the real window: chosen from the system menu, its modal dialog read,
// one bit edited, written after the question, put back, on the virtual phone.
#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backup/pc_store.h"
#include "backup/seem_undo.h"
#include "sim/phone_profile.h"
#include "sim/virtual_driver.h"
#include "support/fake_clock.h"
#include "support/tap_port.h"
#include "ui/win32/main_window.h"
#include "ui/win32/resource.h"
#include "win/window/window_probe.h"

namespace telvane::win32 {
namespace {

namespace stdfs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace telvane::test;

// Answers Yes to every question and keeps what each said.
class YesShell final : public WindowShell {
public:
    BOOL notifyIcon(DWORD, NOTIFYICONDATAA&) override { return TRUE; }
    int messageBox(HWND, const char* text, const char* caption, UINT type) override {
        questions.push_back(std::string(caption != nullptr ? caption : "") + "|" + text);
        return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    }
    BOOL trackPopupMenu(HMENU, UINT, int, int, HWND) override { return TRUE; }
    std::vector<std::string> questions;
};

// Runs steps on the editor's modal dialog once it is up, then closes it: a timer of the thread's,
// which the dialog's own message loop runs.
class EditorScript {
public:
    explicit EditorScript(std::function<void(HWND)> steps) : steps_(std::move(steps)) {
        script_ = this;
        timer_ = SetTimer(nullptr, 0, 20, &EditorScript::tick);
    }
    ~EditorScript() {
        KillTimer(nullptr, timer_);
        script_ = nullptr;
    }
    bool ran = false;

private:
    static BOOL CALLBACK find(HWND candidate, LPARAM) {
        if (script_->ran || !IsWindowVisible(candidate) || GetDlgItem(candidate, IDC_SEEM_EDITOR_GRID) == nullptr)
            return TRUE;
        script_->ran = true;
        script_->steps_(candidate);
        PostMessageA(candidate, WM_COMMAND, IDCANCEL, 0);
        return FALSE;
    }
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), &find, 0); }

    static EditorScript* script_;
    std::function<void(HWND)> steps_;
    UINT_PTR timer_ = 0;
};
EditorScript* EditorScript::script_ = nullptr;

void click(HWND dialog, int id) {
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class SeemEditorWindowTest : public ::testing::Test {
protected:
    SeemEditorWindowTest()
        : folder(stdfs::temp_directory_path() / ("telvane-seem-editor-" + std::to_string(GetCurrentProcessId()))) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        clock.setSleepHook([](std::uint32_t ms) {
            if (ms >= 1000) Sleep(1);
        });
        sim::PhoneProfile p;
        p.volume = "a";
        p.entrySize = 44;
        p.model = "Sim F";
        p.seems = {{0x32, 1, {'A', 'B', 3, 4}}};
        driver = std::make_unique<sim::VirtualDriver>(std::make_unique<sim::VirtualPhone>(p));
        tap = std::make_unique<TapPort>(*driver);
        window = std::make_unique<MainWindow>(GetModuleHandleA(nullptr), *tap, clock, shell, nullptr,
                                              MainWindow::Settings{folder.string() + ".ini", {}});
        window->setUndoFolder(folder / "undo");
        dialog = window->createModeless();
    }
    ~SeemEditorWindowTest() override {
        driver->shutdown();
        window.reset();
        std::error_code ignored;
        stdfs::remove_all(folder, ignored);
    }
    Bytes onPhone() {
        return driver->withPhone([](sim::VirtualPhone& p) { return *p.seems().get(0x32, 1); });
    }

    stdfs::path folder;
    FakeClock clock;
    YesShell shell;
    std::unique_ptr<sim::VirtualDriver> driver;
    std::unique_ptr<TapPort> tap;
    std::unique_ptr<MainWindow> window;
    HWND dialog = nullptr;
};

TEST_F(SeemEditorWindowTest, ReadEditOneBitWriteUndo_FromTheSystemMenuOnTheSeemAndRecFields) {
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(pumpUntil(dialog, [&] { return statusPart(dialog, 0) == "Connected"; }));
    SetDlgItemTextA(dialog, IDC_UPLOAD_SEEM_NUMBER, "32");
    SetDlgItemTextA(dialog, IDC_UPLOAD_SEEM_RECORD, "1");
    SetDlgItemTextA(dialog, IDC_LOG, "");
    std::string undo;
    EditorScript script([&](HWND editor) {
        HWND grid = GetDlgItem(editor, IDC_SEEM_EDITOR_GRID);
        EXPECT_EQ("32", windowText(GetDlgItem(editor, IDC_SEEM_EDITOR_SEEM)));
        EXPECT_EQ("1", windowText(GetDlgItem(editor, IDC_SEEM_EDITOR_RECORD)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(editor, IDC_SEEM_EDITOR_WRITE)));

        click(editor, IDC_SEEM_EDITOR_READ);
        EXPECT_EQ("0000", cellText(grid, 0, 0));
        EXPECT_EQ("41", cellText(grid, 0, 1));
        EXPECT_EQ("AB..", cellText(grid, 0, 17));
        EXPECT_EQ("no bytes changed", windowText(GetDlgItem(editor, IDC_SEEM_EDITOR_CHANGED)));

        // Byte 2 (03) chosen, its bit 2 set: 07, marked.
        SetDlgItemTextA(editor, IDC_SEEM_EDITOR_OFFSET, "2");
        EXPECT_EQ("03", windowText(GetDlgItem(editor, IDC_SEEM_EDITOR_VALUE)));
        EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(editor, IDC_SEEM_EDITOR_BIT0 + 1));
        CheckDlgButton(editor, IDC_SEEM_EDITOR_BIT0 + 2, BST_CHECKED);
        click(editor, IDC_SEEM_EDITOR_BIT0 + 2);
        EXPECT_EQ("07*", cellText(grid, 0, 3));
        EXPECT_EQ("07", windowText(GetDlgItem(editor, IDC_SEEM_EDITOR_VALUE)));
        EXPECT_EQ("1 byte changed", windowText(GetDlgItem(editor, IDC_SEEM_EDITOR_CHANGED)));

        click(editor, IDC_SEEM_EDITOR_WRITE);
        ASSERT_EQ(1u, shell.questions.size());
        EXPECT_EQ("Seem editor|Write seem 0032 record 0001 to the phone? 1 byte changed.\r\n\r\n"
                  "The record as it is now is saved first, for Undo last.",
                  shell.questions[0]);
        EXPECT_EQ((Bytes{'A', 'B', 7, 4}), onPhone());
        EXPECT_EQ("07", cellText(grid, 0, 3));
        const auto saved = backup::SeemUndoStore(folder / "undo").list();
        ASSERT_EQ(1u, saved.size());
        undo = backup::pathText(saved[0].file);

        click(editor, IDC_SEEM_EDITOR_UNDO);
        EXPECT_EQ((Bytes{'A', 'B', 3, 4}), onPhone());
        EXPECT_EQ("03", cellText(grid, 0, 3));
    });
    SendMessageA(dialog, WM_SYSCOMMAND, IDM_SYS_SEEM_EDITOR, 0);
    ASSERT_TRUE(script.ran);
    const std::string log = logText(dialog);
    EXPECT_EQ(0u, log.find("Seem 0032_0001: 1 byte written, read back ok, undo saved as " + undo +
                           "\r\nSeem 0032_0001: put back from " + undo + ", read back ok, undo saved as "))
        << log;
}

} // namespace
} // namespace telvane::win32
