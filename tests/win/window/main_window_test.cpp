#include "ui/win32/main_window.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "common/byte_order.h"
#include "services/file_list.h"
#include "sim/phone_profile.h"
#include "sim/virtual_driver.h"
#include "support/fake_clock.h"
#include "ui/win32/resource.h"
#include "ui/win32/window_messages.h"
#include "window_probe.h"

namespace telvane::win32 {
namespace {

using sim::PhoneFile;
using sim::PhoneProfile;
using namespace telvane::test;

// Records what the window asks of the shell instead of showing it.
class RecordingShell final : public WindowShell {
public:
    struct Box {
        HWND owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    struct Popup {
        HMENU menu;
        UINT flags;
        HWND owner;
    };
    BOOL notifyIcon(DWORD message, NOTIFYICONDATAA& data) override {
        icons.push_back({message, data});
        return TRUE;
    }
    int messageBox(HWND owner, const char* text, const char* caption, UINT type) override {
        boxes.push_back({owner, text, caption, type});
        return IDOK;
    }
    BOOL trackPopupMenu(HMENU menu, UINT flags, int, int, HWND owner) override {
        popups.push_back({menu, flags, owner});
        return TRUE;
    }
    std::vector<std::pair<DWORD, NOTIFYICONDATAA>> icons;
    std::vector<Box> boxes;
    std::vector<Popup> popups;
};

// Passes every call to the virtual driver, and gives listed files the sizes set here in the
// list records that pass by (a virtual file of 2 GiB would need 2 GiB).
class SizePatchPort final : public DevicePort {
public:
    explicit SizePatchPort(DevicePort& inner) : inner_(inner) {}
    std::map<std::string, std::uint32_t> sizes; // name -> size shown in its record
    std::uint32_t entrySize = 44;

    std::string modemPort() override { return inner_.modemPort(); }
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override {
        return inner_.writeModem(port, bytes);
    }
    std::vector<std::string> listInterfaces() override { return inner_.listInterfaces(); }
    DeviceHandle open(const std::string& path) override { return inner_.open(path); }
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        RequestResult result = inner_.request(handle, code, input, output, limitMs);
        const auto answer = output.first(std::min(result.outputLength, output.size()));
        for (const auto& [name, size] : sizes) {
            const std::string field = name + '\0';
            auto at = std::search(answer.begin(), answer.end(), field.begin(), field.end());
            if (at != answer.end() && static_cast<std::size_t>(answer.end() - at) >= entrySize)
                writeBe32(&*at + entrySize - 4, size);
        }
        return result;
    }
    void close(DeviceHandle handle) override { inner_.close(handle); }
    void waitRemoval(const std::string& path) override { inner_.waitRemoval(path); }

private:
    DevicePort& inner_;
};

// A file command that talks to the phone and, while it runs, has the watcher's connection
// message arrive (as it does inside a modal dialog's own message loop). Counts what reached it.
class NestedConnection final : public FileCommands {
public:
    std::function<void()> during;
    void uploadFiles() override {
        ++uploads;
        if (during) during();
    }
    void downloadFiles() override { ++downloads; }
    void deleteFiles() override {}
    void changeAttributes() override {}
    void downloadSeems() override {}
    void uploadSeem() override {}
    void uploadDroppedFiles(const std::vector<std::string>&, TreeNode) override { ++drops; }
    void saveLog(std::string_view text) override { savedLogs.emplace_back(text); }

    int uploads = 0;
    int downloads = 0;
    int drops = 0;
    std::vector<std::string> savedLogs;
};

PhoneFile file(std::string name, std::size_t size = 1, std::uint16_t attribute = 0, std::uint16_t second = 0) {
    return PhoneFile{std::move(name), attribute, second, std::vector<std::uint8_t>(size, 0x5A)};
}

PhoneProfile phone(std::string volume, std::vector<PhoneFile> files, std::uint32_t entrySize = 268) {
    PhoneProfile p;
    p.volume = std::move(volume);
    p.entrySize = entrySize;
    p.recordsPerChunk = 3;
    p.model = "Sim Z";
    p.freeSpace = 3 * 1024 + 1023;
    p.files = std::move(files);
    return p;
}

// The real dialog from template 101, on the virtual phone, driven by this thread's messages.
class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        // The watcher's pauses pass at once in fake time, yet let other threads run.
        clock.setSleepHook([](std::uint32_t ms) {
            if (ms >= 1000) Sleep(1);
        });
        char folder[MAX_PATH] = {};
        GetTempPathA(sizeof folder, folder);
        iniPath = std::string(folder) + "telvane-window-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
        DeleteFileA(iniPath.c_str());
        menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_CONTEXT));
    }
    ~MainWindowTest() override {
        if (driver) driver->shutdown();
        window.reset();
        if (menu) DestroyMenu(menu);
        DeleteFileA(iniPath.c_str());
    }

    void writeIni(const char* text) {
        std::FILE* f = std::fopen(iniPath.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        std::fputs(text, f);
        std::fclose(f);
    }

    // Opens the window on a phone; with plugged, waits until the connection has been handled.
    void open(const PhoneProfile& profile, bool plugged = true) {
        ASSERT_EQ("", sim::checkProfile(profile));
        driver = std::make_unique<sim::VirtualDriver>(std::make_unique<sim::VirtualPhone>(profile));
        if (!plugged) driver->unplug();
        patch = std::make_unique<SizePatchPort>(*driver);
        patch->entrySize = profile.entrySize;
        window = std::make_unique<MainWindow>(GetModuleHandleA(nullptr), *patch, clock, shell, menu,
                                              MainWindow::Settings{iniPath, {}});
        window->setFileCommands(&fileCommands);
        dialog = window->createModeless();
        ASSERT_NE(nullptr, dialog);
        if (plugged) {
            ASSERT_TRUE(waitForStatus("Connected"));
        }
    }
    void openWithoutPhone() { open(phone("a", {}, 44), false); }

    bool waitForStatus(const std::string& text) {
        return pumpUntil(dialog, [&] { return statusPart(dialog, 0) == text; });
    }
    // Unplugged and plugged again; returns once the new connection has been handled.
    void replug() {
        driver->unplug();
        ASSERT_TRUE(waitForStatus("Not connected"));
        driver->plug();
        ASSERT_TRUE(waitForStatus("Connected"));
    }

    void command(WPARAM id) {
        SendMessageA(dialog, WM_COMMAND, id, 0);
        pumpPending(dialog);
    }
    void click(int id) {
        SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
        pumpPending(dialog);
    }
    void columnClick(int column) {
        NMLISTVIEW click{};
        click.hdr.hwndFrom = GetDlgItem(dialog, IDC_LIST);
        click.hdr.idFrom = IDC_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iItem = -1;
        click.iSubItem = column;
        SendMessageA(dialog, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&click));
    }
    void selectNode(HTREEITEM node) {
        SendDlgItemMessageA(dialog, IDC_TREE, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
    }
    HTREEITEM root() { return treeNext(dialog, nullptr, TVGN_ROOT); }
    std::size_t count(const std::string& text) {
        const std::string log = logText(dialog);
        std::size_t n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }

    FakeClock clock;
    RecordingShell shell;
    NestedConnection fileCommands;
    std::string iniPath;
    HMENU menu = nullptr;
    std::unique_ptr<sim::VirtualDriver> driver;
    std::unique_ptr<SizePatchPort> patch;
    std::unique_ptr<MainWindow> window;
    HWND dialog = nullptr;
};

TEST_F(MainWindowTest, FreshWindow_InitialisedAsTheTemplateAndStepsSay) {
    openWithoutPhone();
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ("Telvane", windowText(dialog));
    EXPECT_EQ("Not connected", statusPart(dialog, 0));
    EXPECT_EQ("0000", windowText(GetDlgItem(dialog, IDC_SEEM_FIRST)));
    EXPECT_EQ("0300", windowText(GetDlgItem(dialog, IDC_SEEM_LAST)));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
    EXPECT_EQ(0, window->autoUpdate());

    HWND list = GetDlgItem(dialog, IDC_LIST);
    const char* titles[] = {"File", "Attributes", "Size", "Type"};
    const int widths[] = {224, 80, 64, 64};
    for (int c = 0; c < 4; ++c) {
        char text[32] = {};
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = text;
        column.cchTextMax = sizeof text;
        ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(titles[c], text);
        EXPECT_EQ(widths[c], column.cx);
        EXPECT_EQ(LVCFMT_LEFT, column.fmt & LVCFMT_JUSTIFYMASK);
    }
    EXPECT_EQ(0x21, SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & 0x21);
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_NE(nullptr, images);
    EXPECT_EQ(3, ImageList_GetImageCount(images));
    EXPECT_NE(0, SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));

    int edges[4] = {};
    EXPECT_EQ(4, SendDlgItemMessageA(dialog, IDC_STATUS, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)));
    EXPECT_EQ(80, edges[0]);
    EXPECT_EQ(208, edges[1]);
    EXPECT_EQ(480, edges[2]);
}

TEST_F(MainWindowTest, EscAndEnter_DoNothingAndTheWindowStaysOpen) {
    openWithoutPhone();
    SetFocus(GetDlgItem(dialog, IDC_SEEM_FIRST)); // an edit: no push button has the focus
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        PostMessageA(GetFocus(), WM_KEYDOWN, key, 0);
        pumpPending(dialog);
    }
    command(IDCANCEL);
    command(IDOK);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ("", logText(dialog));
    EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(MainWindowTest, WithoutPhone_EveryPhoneCommandIsRefusedAndNotificationsAreNoCommands) {
    openWithoutPhone();
    const int commands[] = {IDC_UPDATE_LIST,    IDC_UPLOAD_FILES,      IDC_DOWNLOAD_FILES, IDM_DOWNLOAD,
                            IDC_DELETE_FILES,   IDM_DELETE,            IDC_CHANGE_ATTRIBUTES,
                            IDC_DOWNLOAD_SEEMS, IDC_UPLOAD_SEEM,       IDC_SUSPEND_PHONE,
                            IDC_RESTART_PHONE,  IDC_UPDATE_RINGTONES};
    for (int id : commands) command(static_cast<WPARAM>(id));
    std::string expected;
    for (std::size_t i = 0; i < std::size(commands); ++i) expected += "phone not connected\r\n";
    EXPECT_EQ(expected, logText(dialog));

    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE_LIST, BN_SETFOCUS), 0);
    EXPECT_EQ(expected, logText(dialog));
    EXPECT_EQ(0u, driver->commandCount());
}

TEST_F(MainWindowTest, WithoutPhone_AboutAndTheCheckBoxWork) {
    openWithoutPhone();
    click(IDC_ABOUT);
    command(IDC_ABOUT); // the context menu's item
    ASSERT_EQ(2u, shell.boxes.size());
    const auto& box = shell.boxes[0];
    EXPECT_EQ(dialog, box.owner);
    EXPECT_EQ("About", box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK), box.type);
    EXPECT_EQ(3, std::count(box.text.begin(), box.text.end(), '\n'));
    EXPECT_NE(std::string::npos, box.text.find("file manager\r\ndesigned for Motorola P2K phones\r\n"));
    EXPECT_NE(std::string::npos, box.text.find(__DATE__));

    click(IDC_AUTO_UPDATE);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
    EXPECT_EQ(1, window->autoUpdate());
    click(IDC_AUTO_UPDATE);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
    EXPECT_EQ(0, window->autoUpdate());
    EXPECT_EQ("", logText(dialog));
}

TEST_F(MainWindowTest, Minimize_HidesToTheTrayAndOnlyALeftClickRestores) {
    openWithoutPhone();
    SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsIconic(dialog));
    ASSERT_EQ(1u, shell.icons.size());
    const auto& [message, record] = shell.icons[0];
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), message);
    EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE), record.cbSize);
    EXPECT_EQ(dialog, record.hWnd);
    EXPECT_EQ(0x204B3250u, record.uID);
    EXPECT_EQ(7u, record.uFlags);
    EXPECT_EQ(static_cast<UINT>(WM_USER), record.uCallbackMessage);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)), record.hIcon);
    EXPECT_STREQ("Left click to open service window.", record.szTip);

    for (LPARAM mouse : {WM_RBUTTONUP, WM_RBUTTONDOWN, WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONDBLCLK}) {
        SendMessageA(dialog, WM_TRAYNOTIFY, TrayIcon::kId, mouse);
    }
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(1u, shell.icons.size());

    SendMessageA(dialog, WM_TRAYNOTIFY, TrayIcon::kId, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(dialog));
    ASSERT_EQ(2u, shell.icons.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), shell.icons[1].first);
    EXPECT_EQ(0x204B3250u, shell.icons[1].second.uID);
}

TEST_F(MainWindowTest, SystemClose_EndsTheDialog) {
    openWithoutPhone();
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(shell.icons.empty());
}

TEST_F(MainWindowTest, LogText_ReplacesASelectionAndFromAnotherThreadTheCallerWaits) {
    openWithoutPhone();
    window->log().appendLog("first line\r\n");
    window->log().appendLog("second");
    SendDlgItemMessageA(dialog, IDC_LOG, EM_SETSEL, 0, 5); // "first"
    window->log().appendLog("1st");
    EXPECT_EQ("1st line\r\nsecond", logText(dialog));

    const int end = GetWindowTextLengthA(GetDlgItem(dialog, IDC_LOG));
    SendDlgItemMessageA(dialog, IDC_LOG, EM_SETSEL, static_cast<WPARAM>(end), end); // caret back at the end
    std::atomic<bool> returned{false};
    std::thread watcher([&] {
        window->log().appendLog(" from the watcher\r\n");
        returned.store(true);
    });
    Sleep(50);
    EXPECT_FALSE(returned.load()); // the text waits for the window's thread
    EXPECT_TRUE(pumpUntil(dialog, [&] { return returned.load(); }));
    watcher.join();
    EXPECT_EQ("1st line\r\nsecond from the watcher\r\n", logText(dialog));
}

TEST_F(MainWindowTest, Connection_StatusShowsStateModelAndFreeKilobytesRoundedDown) {
    open(phone("/a", {file("/a/z.txt")}));
    EXPECT_EQ("Connected", statusPart(dialog, 0));
    EXPECT_EQ("Phone model: Sim Z", statusPart(dialog, 1));
    EXPECT_EQ("Volume name: /a, Free space 3 KBytes", statusPart(dialog, 2));
    EXPECT_EQ("", statusPart(dialog, 3));
    EXPECT_EQ(std::vector<std::string>{"Sim Z (/a)"}, childTexts(dialog, nullptr));
    EXPECT_EQ("", logText(dialog)); // AutoFileList is off: no list yet
    EXPECT_TRUE(listRows(dialog).empty());

    driver->unplug();
    ASSERT_TRUE(waitForStatus("Not connected"));
    EXPECT_EQ("Phone model: Sim Z", statusPart(dialog, 1));
    EXPECT_EQ("Volume name: /a, Free space 3 KBytes", statusPart(dialog, 2));
}

TEST_F(MainWindowTest, ConnectedCommands_RingtonesDoNothingSuspendAndRestartReachThePhoneSilently) {
    open(phone("a", {}, 44));
    const auto commands = driver->commandCount();
    click(IDC_UPDATE_RINGTONES);
    EXPECT_EQ(commands, driver->commandCount());
    click(IDC_SUSPEND_PHONE);
    click(IDC_RESTART_PHONE);
    EXPECT_EQ(1u, driver->withPhone([](sim::VirtualPhone& p) { return p.suspendCount(); }));
    EXPECT_EQ(1u, driver->withPhone([](sim::VirtualPhone& p) { return p.restartCount(); }));
    EXPECT_EQ("", logText(dialog));
}

TEST_F(MainWindowTest, TreeMode_FoldersInTheTreeAndTheSelectedFoldersFilesInTheList) {
    open(phone("/a", {file("/a/x/y.txt", 12, 0x20), file("/a/z.txt", 7)}));
    click(IDC_UPDATE_LIST);
    EXPECT_EQ("Receiving file list... ok\r\nFiles found: 2\r\n", logText(dialog));
    ASSERT_EQ(std::vector<std::string>{"Sim Z (/a)"}, childTexts(dialog, nullptr));
    EXPECT_EQ(std::vector<std::string>{"x"}, childTexts(dialog, root()));
    EXPECT_EQ(root(), treeNext(dialog, nullptr, TVGN_CARET));
    EXPECT_EQ((std::vector<Row>{Row{"z.txt", "0", "7", "txt"}}), listRows(dialog));
    EXPECT_EQ(2, rowImage(dialog, 0));
    EXPECT_EQ(reinterpret_cast<LPARAM>(window->session().files.entry(1).record), rowData(dialog, 0));
    EXPECT_EQ(2, SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));

    selectNode(childNamed(dialog, root(), "x"));
    EXPECT_EQ((std::vector<Row>{Row{"y.txt", "20", "12", "txt"}}), listRows(dialog));
    selectNode(root());
    EXPECT_EQ(std::vector<std::string>{"z.txt"}, listColumn(dialog, 0));
}

TEST_F(MainWindowTest, FlatMode_EveryRecordByItsWholeNameLastOnTopWithItsAttributeText) {
    open(phone("a", {file("plain.txt", 3, 0x20), file("zero", 4, 0), file("both.b.c", 5, 0x0004, 0x0102)}, 44));
    click(IDC_UPDATE_LIST);
    EXPECT_EQ((std::vector<Row>{Row{"both.b.c", "1020004", "5", "c"}, Row{"zero", "0", "4", ""},
                                Row{"plain.txt", "20", "3", "txt"}}),
              listRows(dialog));
    EXPECT_EQ(std::vector<std::string>{"Sim Z (a)"}, childTexts(dialog, nullptr));
    EXPECT_TRUE(childTexts(dialog, root()).empty());
}

TEST_F(MainWindowTest, FreshWindow_FirstClickOnFileSortsDescending) {
    open(phone("a", {file("b.zip"), file("c.mid"), file("a.txt")}, 44));
    click(IDC_UPDATE_LIST);
    ASSERT_EQ((std::vector<std::string>{"a.txt", "c.mid", "b.zip"}), listColumn(dialog, 0));
    columnClick(0); // the initial sort column, so the direction flips
    EXPECT_TRUE(window->sortDescending());
    EXPECT_EQ((std::vector<std::string>{"c.mid", "b.zip", "a.txt"}), listColumn(dialog, 0));
    EXPECT_EQ(std::make_pair(LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT, 1), columnFormat(dialog, 0));
}

TEST_F(MainWindowTest, FreshWindow_SizeAscendingSizeAgainDescendingThenTypeDescending) {
    open(phone("a", {file("b.zip", 30), file("c.mid", 10), file("a.txt", 20)}, 44));
    click(IDC_UPDATE_LIST);
    columnClick(2);
    EXPECT_FALSE(window->sortDescending());
    EXPECT_EQ((std::vector<std::string>{"10", "20", "30"}), listColumn(dialog, 2));
    EXPECT_EQ(0, columnFormat(dialog, 0).first & LVCFMT_IMAGE);
    EXPECT_EQ(std::make_pair(LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT, 0), columnFormat(dialog, 2));

    columnClick(2);
    EXPECT_EQ((std::vector<std::string>{"30", "20", "10"}), listColumn(dialog, 2));
    EXPECT_EQ(std::make_pair(LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT, 1), columnFormat(dialog, 2));

    columnClick(3); // another column keeps the direction
    EXPECT_TRUE(window->sortDescending());
    EXPECT_EQ((std::vector<std::string>{"zip", "txt", "mid"}), listColumn(dialog, 3));
    EXPECT_EQ(0, columnFormat(dialog, 2).first & LVCFMT_IMAGE);
    EXPECT_EQ(std::make_pair(LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT, 1), columnFormat(dialog, 3));
    EXPECT_EQ(3, window->sortColumn());
}

TEST_F(MainWindowTest, SizeColumn_ShowsAndSortsSizesOfTwoGibibytesAndMoreUnsigned) {
    open(phone("a", {file("huge.bin"), file("small.bin"), file("max.bin"), file("mid.bin")}, 44));
    patch->sizes = {{"huge.bin", 0x80000000u}, {"small.bin", 5}, {"max.bin", 0xFFFFFFFFu}, {"mid.bin", 0x7FFFFFFFu}};
    click(IDC_UPDATE_LIST);
    columnClick(2);
    EXPECT_EQ((std::vector<std::string>{"5", "2147483647", "2147483648", "4294967295"}), listColumn(dialog, 2));
    EXPECT_EQ((std::vector<std::string>{"small.bin", "mid.bin", "huge.bin", "max.bin"}), listColumn(dialog, 0));
    columnClick(2);
    EXPECT_EQ((std::vector<std::string>{"4294967295", "2147483648", "2147483647", "5"}), listColumn(dialog, 2));
}

TEST_F(MainWindowTest, AutoFileListFromIni_EachConnectionRefreshesUntilUnchecked) {
    writeIni("[General]\r\nAutoFileList=1\r\n");
    open(phone("/a", {file("/a/x/1.txt"), file("/a/2.txt")}));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
    EXPECT_EQ("Receiving file list... ok\r\nFiles found: 2\r\n", logText(dialog));
    EXPECT_EQ(std::vector<std::string>{"2.txt"}, listColumn(dialog, 0));

    replug();
    EXPECT_EQ(2u, count("Receiving file list..."));

    click(IDC_AUTO_UPDATE);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
    replug();
    EXPECT_EQ(2u, count("Receiving file list..."));
}

TEST_F(MainWindowTest, IniValueOtherThanOne_IsOffAndTheFirstClickTurnsItOn) {
    writeIni("[General]\r\nAutoFileList=5\r\n");
    openWithoutPhone();
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
    click(IDC_AUTO_UPDATE);
    EXPECT_EQ(1, window->autoUpdate());
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
}

TEST_F(MainWindowTest, RefreshTwice_AddsNoDuplicateNodes) {
    open(phone("/a", {file("/a/x/y/1"), file("/a/x/2"), file("/a/w/3")}));
    click(IDC_UPDATE_LIST);
    const int nodes = nodeCount(dialog);
    EXPECT_EQ(4, nodes); // root, w, x, y
    click(IDC_UPDATE_LIST);
    EXPECT_EQ(nodes, nodeCount(dialog));
    EXPECT_EQ((std::vector<std::string>{"w", "x"}), childTexts(dialog, root()));
}

TEST_F(MainWindowTest, ReconnectionWithoutAutoUpdate_ReplacesTheTreeButKeepsTheRows) {
    open(phone("/a", {file("/a/x/1"), file("/a/2")}));
    click(IDC_UPDATE_LIST);
    ASSERT_EQ(std::vector<std::string>{"x"}, childTexts(dialog, root()));
    const auto rows = listRows(dialog);
    ASSERT_EQ(1u, rows.size());

    replug();
    EXPECT_EQ(std::vector<std::string>{"Sim Z (/a)"}, childTexts(dialog, nullptr));
    EXPECT_TRUE(childTexts(dialog, root()).empty());
    EXPECT_EQ(rows, listRows(dialog));
}

TEST_F(MainWindowTest, ConnectionDuringAPhoneOperation_IsReadOnlyOnceTheOperationHasEnded) {
    writeIni("[General]\r\nAutoFileList=1\r\n");
    open(phone("/a", {file("/a/1")}));
    ASSERT_EQ(1u, count("Receiving file list..."));
    SetDlgItemTextA(dialog, IDC_LOG, "");
    SendDlgItemMessageA(dialog, IDC_STATUS, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>("Not connected"));

    std::uint32_t commandsDuring = 0;
    std::string statusDuring;
    std::string logDuring;
    fileCommands.during = [&] {
        const auto before = driver->commandCount();
        SendMessageA(dialog, WM_LINKSTATE, 1, 0); // arrives in the operation's own message loop
        commandsDuring = driver->commandCount() - before;
        statusDuring = statusPart(dialog, 0);
        logDuring = logText(dialog);
    };
    click(IDC_UPLOAD_FILES);
    EXPECT_EQ(0u, commandsDuring);
    EXPECT_EQ("Connected", statusDuring);
    EXPECT_EQ("", logDuring);
    EXPECT_EQ("Receiving file list... ok\r\nFiles found: 1\r\n", logText(dialog));
}

TEST_F(MainWindowTest, RightClickInTheList_ShowsTheContextMenuAtTheCursor) {
    openWithoutPhone();
    NMITEMACTIVATE rclick{};
    rclick.hdr.hwndFrom = GetDlgItem(dialog, IDC_LIST);
    rclick.hdr.idFrom = IDC_LIST;
    rclick.hdr.code = NM_RCLICK;
    rclick.iItem = -1;
    SendMessageA(dialog, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&rclick));
    ASSERT_EQ(1u, shell.popups.size());
    const auto& popup = shell.popups[0];
    EXPECT_EQ(dialog, popup.owner);
    EXPECT_EQ(static_cast<UINT>(TPM_RIGHTBUTTON), popup.flags);
    ASSERT_EQ(3, GetMenuItemCount(popup.menu));
    const UINT ids[] = {IDM_DOWNLOAD, IDM_DELETE, IDC_ABOUT};
    const char* texts[] = {"Download", "&Delete", "&About Telvane"};
    for (int i = 0; i < 3; ++i) {
        char text[32] = {};
        GetMenuStringA(popup.menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(ids[i], GetMenuItemID(popup.menu, i));
        EXPECT_STREQ(texts[i], text);
    }
}

TEST_F(MainWindowTest, WithoutPhone_ListKeysDoubleClickAndDropsAreRefusedAsTheButtonsAre) {
    openWithoutPhone();
    HWND list = GetDlgItem(dialog, IDC_LIST);
    SetFocus(list);
    pressKey(dialog, list, VK_DELETE);
    pressKey(dialog, list, VK_F5);
    pressKey(dialog, list, 'A', true);
    pressKey(dialog, list, VK_RETURN);
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = IDC_LIST;
    click.hdr.code = NM_DBLCLK;
    click.iItem = 0;
    SendMessageA(dialog, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&click));
    postDrop(dialog, list, {"C:\\x.bin"});
    postDrop(dialog, GetDlgItem(dialog, IDC_TREE), {"C:\\x.bin"});
    pumpPending(dialog);
    std::string expected;
    for (int i = 0; i < 7; ++i) expected += "phone not connected\r\n";
    EXPECT_EQ(expected, logText(dialog));

    // Beside the rows a double click chooses nothing; 'A' alone is the list's own search.
    click.iItem = -1;
    SendMessageA(dialog, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&click));
    pressKey(dialog, list, 'A');
    EXPECT_EQ(expected, logText(dialog));
    EXPECT_EQ(0, fileCommands.downloads + fileCommands.drops);
}

TEST_F(MainWindowTest, LogPane_RightClickOffersSaveLog_ItAndCtrlSSaveTheWholeTextWithoutAPhone) {
    openWithoutPhone();
    // Far beyond the 30,000 characters an edit control takes by default.
    std::string expected;
    for (int i = 0; i < 80; ++i) {
        const std::string line = "line " + std::to_string(i) + std::string(500, '.') + "\r\n";
        window->log().appendLog(line);
        expected += line;
    }
    EXPECT_EQ(expected, logText(dialog));

    HWND pane = GetDlgItem(dialog, IDC_LOG);
    PostMessageA(pane, WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
    pumpPending(dialog);
    ASSERT_EQ(1u, shell.popups.size());
    EXPECT_EQ(dialog, shell.popups[0].owner);
    ASSERT_EQ(1, GetMenuItemCount(shell.popups[0].menu));
    char text[32] = {};
    GetMenuStringA(shell.popups[0].menu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ("Save log...", text);
    EXPECT_EQ(static_cast<UINT>(IDM_SAVE_LOG), GetMenuItemID(shell.popups[0].menu, 0));

    command(IDM_SAVE_LOG); // the item chosen
    pressKey(dialog, pane, 'S', true);
    pressKey(dialog, pane, 'S'); // S alone: nothing in a read-only pane
    EXPECT_EQ((std::vector<std::string>{expected, expected}), fileCommands.savedLogs);
}

TEST_F(MainWindowTest, DuringAnOperation_NoOtherCommandStarts_YetTheCheckBoxFollowsItsClicks) {
    open(phone("a", {file("x")}, 44));
    HWND list = GetDlgItem(dialog, IDC_LIST);
    fileCommands.during = [&] {
        for (int id : {IDC_ABOUT, IDC_UPDATE_LIST, IDC_UPLOAD_FILES, IDC_DOWNLOAD_FILES, IDM_SAVE_LOG})
            SendMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
        pressKey(dialog, list, VK_F5);
        pressKey(dialog, GetDlgItem(dialog, IDC_LOG), 'S', true);
        postDrop(dialog, list, {"C:\\x.bin"});
        pumpPending(dialog);
        SendDlgItemMessageA(dialog, IDC_AUTO_UPDATE, BM_CLICK, 0, 0);
    };
    click(IDC_UPLOAD_FILES);
    EXPECT_EQ(1, fileCommands.uploads);
    EXPECT_EQ(0, fileCommands.downloads + fileCommands.drops);
    EXPECT_TRUE(fileCommands.savedLogs.empty());
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_EQ("", logText(dialog));
    EXPECT_EQ(1, window->autoUpdate());
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_AUTO_UPDATE));
}

TEST_F(MainWindowTest, SystemMenu_HoldsBackUpVerifyRestoreSeemEditorAndSaveLogAfterASeparatorBelowWindowsOwnItems) {
    openWithoutPhone();
    HMENU menu = GetSystemMenu(dialog, FALSE);
    ASSERT_NE(nullptr, menu);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 7);
    bool closeAbove = false;
    for (int i = 0; i < count - 6; ++i) closeAbove = closeAbove || GetMenuItemID(menu, i) == SC_CLOSE;
    EXPECT_TRUE(closeAbove);
    MENUITEMINFOA separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(count - 6), TRUE, &separator));
    EXPECT_NE(0u, separator.fType & MFT_SEPARATOR);
    const UINT ids[] = {0x0110, 0x0120, 0x0130, 0x0140, 0x0150};
    const char* texts[] = {"Back up phone...", "Verify backup...", "Restore from backup...", "Seem editor...",
                           "Save log..."};
    for (int i = 0; i < 5; ++i) {
        char text[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(count - 5 + i), text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(ids[i], GetMenuItemID(menu, count - 5 + i));
        EXPECT_STREQ(texts[i], text);
    }
}

TEST_F(MainWindowTest, WithoutPhone_TheSystemMenusPhoneItemsAndCtrlBCtrlRCtrlEAreRefused_SaveLogWorks) {
    openWithoutPhone();
    for (WPARAM id : {0x0110, 0x0120, 0x0130, 0x0140}) SendMessageA(dialog, WM_SYSCOMMAND, id, 0);
    pressKey(dialog, GetDlgItem(dialog, IDC_LIST), 'B', true);
    pressKey(dialog, GetDlgItem(dialog, IDC_SEEM_FIRST), 'R', true);
    pressKey(dialog, GetDlgItem(dialog, IDC_UPLOAD_SEEM_NUMBER), 'E', true);
    std::string expected;
    for (int i = 0; i < 7; ++i) expected += "phone not connected\r\n";
    EXPECT_EQ(expected, logText(dialog));
    EXPECT_EQ(0u, driver->commandCount());

    SendMessageA(dialog, WM_SYSCOMMAND, 0x0150, 0);
    EXPECT_EQ(std::vector<std::string>{expected}, fileCommands.savedLogs);
}

} // namespace
} // namespace telvane::win32
