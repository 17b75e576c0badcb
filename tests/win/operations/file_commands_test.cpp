// The file and seem commands through the real window: the buttons and menu items reach the
// operations, the real open and save dialogs (confirmed by a hook) and the real PC files.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/phone_profile.h"
#include "sim/virtual_driver.h"
#include "support/fake_clock.h"
#include "support/tap_port.h"
#include "ui/win32/main_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/window_file_commands.h"
#include "ui/win32/window_messages.h"
#include "win/window/window_probe.h"

namespace telvane::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace telvane::test;

// The file-name field of the explorer-style dialog.
constexpr int kFileNameField = cmb13;

// What the hook does once a dialog is up: the name to confirm it with, or cancel.
struct DialogScript {
    std::deque<std::string> names; // "" cancels
    std::vector<HWND> owners;      // each dialog's owner, as the dialog saw it
    std::vector<BOOL> ownerEnabled;
    std::vector<DWORD> flags;      // each dialog's options
    bool answerReplaceYes = false; // a question whether to replace a file is answered Yes
    std::vector<std::string> replaceQuestions;
};

DialogScript* scriptOfPrompt = nullptr;

BOOL CALLBACK answerYesToBoxOf(HWND candidate, LPARAM fileDialog) {
    char kind[16] = {};
    GetClassNameA(candidate, kind, sizeof kind);
    if (GetWindow(candidate, GW_OWNER) != reinterpret_cast<HWND>(fileDialog) || std::strcmp(kind, "#32770") != 0)
        return TRUE;
    char text[512] = {};
    GetDlgItemTextA(candidate, 0xFFFF, text, sizeof text); // a message box's text
    scriptOfPrompt->replaceQuestions.emplace_back(text);
    PostMessageA(candidate, WM_COMMAND, IDYES, 0);
    return FALSE;
}

// Runs inside the message box the file dialog shows over itself.
void CALLBACK answerReplacePrompt(HWND fileDialog, UINT, UINT_PTR timer, DWORD) {
    if (!EnumThreadWindows(GetCurrentThreadId(), &answerYesToBoxOf, reinterpret_cast<LPARAM>(fileDialog)))
        KillTimer(fileDialog, timer);
}

UINT_PTR CALLBACK confirmingHook(HWND child, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* record = reinterpret_cast<const OPENFILENAMEA*>(lParam);
        SetWindowLongPtrA(child, DWLP_USER, record->lCustData);
        reinterpret_cast<DialogScript*>(record->lCustData)->flags.push_back(record->Flags);
        return 0;
    }
    if (message != WM_NOTIFY || reinterpret_cast<const NMHDR*>(lParam)->code != static_cast<UINT>(CDN_INITDONE))
        return 0;
    auto* script = reinterpret_cast<DialogScript*>(GetWindowLongPtrA(child, DWLP_USER));
    HWND dialog = GetParent(child);
    HWND owner = GetWindow(dialog, GW_OWNER);
    script->owners.push_back(owner);
    script->ownerEnabled.push_back(owner != nullptr ? IsWindowEnabled(owner) : TRUE);
    std::string name;
    if (!script->names.empty()) {
        name = script->names.front();
        script->names.pop_front();
    }
    if (name.empty()) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else {
        SendMessageA(dialog, CDM_SETCONTROLTEXT, kFileNameField, reinterpret_cast<LPARAM>(name.c_str()));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        if (script->answerReplaceYes) {
            scriptOfPrompt = script;
            SetTimer(dialog, 1, 20, &answerReplacePrompt);
        }
    }
    return 0;
}

// Shows nothing: records the questions and answers them as scripted, running a hook first.
class QuestionShell final : public WindowShell {
public:
    struct Box {
        HWND owner;
        std::string text;
        const char* caption;
        UINT type;
    };
    BOOL notifyIcon(DWORD, NOTIFYICONDATAA&) override { return TRUE; }
    int messageBox(HWND owner, const char* text, const char* caption, UINT type) override {
        boxes.push_back({owner, text, caption, type});
        if (whileAsking) whileAsking();
        if (answers.empty()) return IDNO;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    BOOL trackPopupMenu(HMENU, UINT, int, int, HWND) override { return TRUE; }

    std::vector<Box> boxes;
    std::deque<int> answers;
    std::function<void()> whileAsking;
};

std::string tempFolder(const std::string& name) {
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof base, base);
    std::string folder = std::string(base) + name + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string currentFolder() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    return folder;
}

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    return bytes;
}

// --- The dialogs alone

// A choice of several files: the folder first, then the names (here sorted).
std::string chosenFolder(const FileDialogSetup& setup) {
    return setup.choice.data();
}
std::vector<std::string> chosenNames(const FileDialogSetup& setup) {
    const char* p = setup.choice.data();
    std::vector<std::string> names;
    for (p += std::strlen(p) + 1; *p != '\0'; p += std::strlen(p) + 1) names.emplace_back(p);
    std::sort(names.begin(), names.end());
    return names;
}

class Win32DialogsTest : public ::testing::Test {
protected:
    Win32DialogsTest() : folder(tempFolder("telvane-dialogs")) {
        SetCurrentDirectoryA(start.c_str());
        dialogs.setHook(&confirmingHook, reinterpret_cast<LPARAM>(&script));
    }
    ~Win32DialogsTest() override {
        SetCurrentDirectoryA(start.c_str());
        for (const char* name : {"one.bin", "two.bin"}) DeleteFileA((folder + "\\" + name).c_str());
        RemoveDirectoryA(folder.c_str());
    }

    std::string start = currentFolder();
    std::string folder;
    DialogScript script;
    QuestionShell shell;
    Win32Dialogs dialogs{[] { return static_cast<HWND>(nullptr); }, shell};
    FileDialogSetup setup;
};

TEST_F(Win32DialogsTest, OpenDialog_OneFileGivesItsPathAndNameAndEntersItsFolder) {
    writeFile(folder + "\\one.bin", {1});
    script.names.push_back(folder + "\\one.bin");
    setup.options = FileDialogSetup::kExplorerMultiSelect;
    ASSERT_TRUE(dialogs.openFileDialog(setup));
    EXPECT_EQ(folder + "\\one.bin", std::string(setup.choice.data()));
    EXPECT_EQ('\0', setup.choice[folder.size() + 9]); // one name, then an empty one
    EXPECT_EQ("one.bin", std::string(setup.title.data()));
    EXPECT_EQ(folder, currentFolder());
}

TEST_F(Win32DialogsTest, OpenDialog_SeveralFilesGiveTheFolderThenTheNames) {
    writeFile(folder + "\\one.bin", {1});
    writeFile(folder + "\\two.bin", {2});
    SetCurrentDirectoryA(folder.c_str());
    script.names.push_back("\"one.bin\" \"two.bin\"");
    setup.options = FileDialogSetup::kExplorerMultiSelect;
    ASSERT_TRUE(dialogs.openFileDialog(setup));
    EXPECT_EQ(folder, chosenFolder(setup));
    EXPECT_EQ((std::vector<std::string>{"one.bin", "two.bin"}), chosenNames(setup));
}

// Forty files in the dialog's folder, and the file-name field's text that chooses them all.
class ManyFilesChosen {
public:
    explicit ManyFilesChosen(const std::string& folder) : folder_(folder) {
        for (int i = 0; i < 40; ++i) {
            names.push_back("upload-file-number-" + std::to_string(100 + i) + ".bin");
            writeFile(folder_ + "\\" + names.back(), {1});
            field += "\"" + names.back() + "\" ";
        }
    }
    ~ManyFilesChosen() {
        for (const auto& name : names) DeleteFileA((folder_ + "\\" + name).c_str());
    }
    std::vector<std::string> names;
    std::string field;

private:
    std::string folder_;
};

TEST_F(Win32DialogsTest, OpenDialog_FortyNamesBeyondOnePathsRoom_AllComeBackAfterTheFolder) {
    ManyFilesChosen chosen(folder);
    ASSERT_GT(chosen.field.size(), FileDialogSetup::kBufferSize);
    SetCurrentDirectoryA(folder.c_str());
    script.names.push_back(chosen.field);
    setup.options = FileDialogSetup::kExplorerMultiSelect;
    ASSERT_TRUE(dialogs.openFileDialog(setup));
    EXPECT_FALSE(setup.choiceTooLarge);
    ASSERT_EQ(FileDialogSetup::kChoiceBufferSize, setup.choice.size());
    EXPECT_EQ(folder, chosenFolder(setup));
    EXPECT_EQ(chosen.names, chosenNames(setup));
}

TEST_F(Win32DialogsTest, OpenDialog_ChoiceBeyondItsBuffer_IsReportedAsSuch) {
    ManyFilesChosen chosen(folder);
    SetCurrentDirectoryA(folder.c_str());
    script.names.push_back(chosen.field);
    setup.options = FileDialogSetup::kExplorerMultiSelect;
    setup.choice.assign(600, '\0');
    EXPECT_FALSE(dialogs.openFileDialog(setup));
    EXPECT_TRUE(setup.choiceTooLarge);

    // A cancel is no such report.
    script.names.push_back("");
    EXPECT_FALSE(dialogs.openFileDialog(setup));
    EXPECT_FALSE(setup.choiceTooLarge);
}

TEST_F(Win32DialogsTest, SaveDialog_GivesThePathChosenAndEntersItsFolder_CancelGivesNothing) {
    setDialogName(setup, "prefilled.bin");
    script.names.push_back(folder + "\\new.bin");
    ASSERT_TRUE(dialogs.saveFileDialog(setup));
    EXPECT_EQ(folder + "\\new.bin", std::string(dialogName(setup)));
    EXPECT_EQ(folder, currentFolder());

    script.names.push_back("");
    EXPECT_FALSE(dialogs.saveFileDialog(setup));
}

TEST(Win32PcFilesTest, NewFilesNeverReplaceAndOpenFilesAreUnshared) {
    const std::string folder = tempFolder("telvane-files");
    const std::string path = folder + "\\f.bin";
    Win32PcFiles files;
    PcFile created(files, files.createNew(path));
    ASSERT_TRUE(created);
    EXPECT_TRUE(created.writeAll(pattern(3000, 1)));
    EXPECT_EQ(0u, files.createNew(path));
    EXPECT_EQ(0u, files.openExisting(path)); // held by `created`, shared with no one
    EXPECT_TRUE(created.close());

    PcFile opened(files, files.openExisting(path));
    std::uint64_t size = 0;
    ASSERT_TRUE(opened.size(size));
    EXPECT_EQ(3000u, size);
    Bytes back(3000);
    EXPECT_TRUE(opened.readAll(back));
    EXPECT_EQ(pattern(3000, 1), back);
    EXPECT_FALSE(opened.readAll(back)); // nothing left: fewer bytes than asked
    opened.close();
    EXPECT_TRUE(files.remove(path));
    EXPECT_FALSE(files.remove(path));
    RemoveDirectoryA(folder.c_str());
}

// --- Through the window

class WindowCommandsTest : public ::testing::Test {
protected:
    WindowCommandsTest() : folder(tempFolder("telvane-commands")) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                           ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        clock.setSleepHook([](std::uint32_t ms) {
            if (ms >= 1000) Sleep(1);
        });
        iniPath = folder + "\\telvane.ini";
        SetCurrentDirectoryA(folder.c_str());
    }
    ~WindowCommandsTest() override {
        if (driver) driver->shutdown();
        commands.reset();
        window.reset();
        SetCurrentDirectoryA(start.c_str());
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileA((folder + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(folder.c_str());
    }

    void open(const sim::PhoneProfile& profile, bool autoUpdate) {
        ASSERT_EQ("", sim::checkProfile(profile));
        if (autoUpdate) {
            const std::string ini = "[General]\r\nAutoFileList=1\r\n";
            writeFile(iniPath, Bytes(ini.begin(), ini.end()));
        }
        driver = std::make_unique<sim::VirtualDriver>(std::make_unique<sim::VirtualPhone>(profile));
        tap = std::make_unique<TapPort>(*driver);
        tap->afterRequest = [this, thread = GetCurrentThreadId()] {
            if (GetCurrentThreadId() == thread && duringRequests) duringRequests();
        };
        window = std::make_unique<MainWindow>(GetModuleHandleA(nullptr), *tap, clock, shell, nullptr,
                                              MainWindow::Settings{iniPath, {}});
        commands = std::make_unique<WindowFileCommands>(*window, shell);
        commands->dialogs().setHook(&confirmingHook, reinterpret_cast<LPARAM>(&script));
        dialog = window->createModeless();
        ASSERT_NE(nullptr, dialog);
        ASSERT_TRUE(pumpUntil(dialog, [&] { return statusPart(dialog, 0) == "Connected"; }));
        if (!autoUpdate) command(IDC_UPDATE_LIST);
        SetDlgItemTextA(dialog, IDC_LOG, "");
    }
    void command(WPARAM id) {
        SendMessageA(dialog, WM_COMMAND, id, 0);
        pumpPending(dialog);
    }
    void select(const std::vector<std::string>& names) {
        HWND list = GetDlgItem(dialog, IDC_LIST);
        const auto texts = listColumn(dialog, 0);
        for (std::size_t row = 0; row < texts.size(); ++row) {
            LVITEMA item{};
            item.stateMask = LVIS_SELECTED;
            item.state = std::find(names.begin(), names.end(), texts[row]) != names.end() ? LVIS_SELECTED : 0;
            SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        }
    }
    std::optional<Bytes> phoneFile(const std::string& name) {
        return driver->withPhone([&](sim::VirtualPhone& p) -> std::optional<Bytes> {
            const sim::PhoneFile* f = p.fileSystem().find(name);
            return f ? std::optional<Bytes>(f->bytes) : std::nullopt;
        });
    }
    static sim::PhoneProfile flatPhone() {
        sim::PhoneProfile p;
        p.volume = "a";
        p.entrySize = 44;
        p.model = "Sim F";
        p.files = {{"keep.bin", 0, 0, pattern(1500, 1)}, {"gone.bin", 0, 0, pattern(20, 2)}};
        p.seems = {{0x60, 1, {1, 2, 3}}, {0x60, 2, {4}}};
        return p;
    }

    std::string start = currentFolder();
    std::string folder;
    std::string iniPath;
    FakeClock clock;
    QuestionShell shell;
    DialogScript script;
    std::unique_ptr<sim::VirtualDriver> driver;
    std::unique_ptr<TapPort> tap;
    // Runs after every request the window's thread makes: inside the operations.
    std::function<void()> duringRequests;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WindowFileCommands> commands;
    HWND dialog = nullptr;
};

TEST_F(WindowCommandsTest, UploadButton_SendsTheChosenFileThroughTheRealOpenDialog) {
    open(flatPhone(), false);
    writeFile(folder + "\\up.bin", pattern(2100, 7));
    script.names.push_back(folder + "\\up.bin");
    command(IDC_UPLOAD_FILES);
    EXPECT_EQ("File upload... up.bin ok\r\n", logText(dialog));
    EXPECT_EQ(pattern(2100, 7), phoneFile("up.bin"));
    ASSERT_EQ(1u, script.owners.size());
    EXPECT_EQ(dialog, script.owners[0]);
    EXPECT_FALSE(script.ownerEnabled[0]); // the window takes no input while the dialog is open
    EXPECT_TRUE(IsWindowEnabled(dialog));
}

TEST_F(WindowCommandsTest, DownloadMenuItem_WritesTheSelectedFileWhereTheSaveDialogSays) {
    open(flatPhone(), false);
    select({"keep.bin"});
    script.names.push_back(folder + "\\copy.bin");
    command(IDM_DOWNLOAD);
    EXPECT_EQ("File download...keep.bin ok\r\n", logText(dialog));
    EXPECT_EQ(pattern(1500, 1), readFile(folder + "\\copy.bin"));
    ASSERT_EQ(1u, script.flags.size());
    EXPECT_EQ(0u, script.flags[0] & OFN_OVERWRITEPROMPT); // a download never replaces a file
}

TEST_F(WindowCommandsTest, AttributeButton_ReadsTheFieldAndSeemButtonsSaveAndWriteBack) {
    open(flatPhone(), false);
    select({"keep.bin"});
    SetDlgItemTextA(dialog, IDC_ATTRIBUTE, "4");
    command(IDC_CHANGE_ATTRIBUTES);
    EXPECT_EQ(4, driver->withPhone([](sim::VirtualPhone& p) { return p.fileSystem().find("keep.bin")->attribute; }));

    SetDlgItemTextA(dialog, IDC_LOG, "");
    SetDlgItemTextA(dialog, IDC_SEEM_FIRST, "60");
    SetDlgItemTextA(dialog, IDC_SEEM_LAST, "60");
    script.names.push_back(folder + "\\xxxx_yyyy.seem");
    command(IDC_DOWNLOAD_SEEMS);
    EXPECT_EQ("0060", windowText(GetDlgItem(dialog, IDC_SEEM_FIRST)));
    EXPECT_EQ((Bytes{1, 2, 3}), readFile(folder + "\\0060_0001.seem"));
    EXPECT_EQ((Bytes{4}), readFile(folder + "\\0060_0002.seem"));

    writeFile(folder + "\\0060_0001.seem", {7, 8, 9});
    SetDlgItemTextA(dialog, IDC_UPLOAD_SEEM_NUMBER, "60");
    SetDlgItemTextA(dialog, IDC_UPLOAD_SEEM_RECORD, "");
    SetDlgItemTextA(dialog, IDC_LOG, "");
    script.names.push_back(folder + "\\0060_0001.seem");
    command(IDC_UPLOAD_SEEM);
    EXPECT_EQ("uploading seem N 0060record N 0001 ok\r\n", logText(dialog));
    EXPECT_EQ("0001", windowText(GetDlgItem(dialog, IDC_UPLOAD_SEEM_RECORD)));
    EXPECT_EQ((Bytes{7, 8, 9}), driver->withPhone([](sim::VirtualPhone& p) { return *p.seems().get(0x60, 1); }));
}

TEST_F(WindowCommandsTest, PhoneReplacedDuringADeletesQuestion_DeletesNothingThenTheNewPhoneIsRead) {
    open(flatPhone(), true);
    select({"gone.bin"});
    const auto rowsBefore = listRows(dialog);

    std::uint32_t commandsDuring = 0;
    std::vector<Row> rowsDuring;
    bool replaced = false;
    shell.answers.push_back(IDYES);
    shell.whileAsking = [&] {
        // The phone pulled and plugged in again while the box is open: the watcher's messages
        // arrive in the box's own loop.
        PhoneLink& link = window->session().link;
        const auto generation = link.generation();
        const auto commandsBefore = driver->commandCount();
        driver->unplug();
        replaced = pumpUntil(dialog, [&] { return statusPart(dialog, 0) == "Not connected"; });
        driver->plug();
        replaced = replaced && pumpUntil(dialog, [&] {
                       return statusPart(dialog, 0) == "Connected" && link.generation() == generation + 2;
                   });
        commandsDuring = driver->commandCount() - commandsBefore;
        rowsDuring = listRows(dialog);
    };
    command(IDM_DELETE);

    ASSERT_TRUE(replaced);
    ASSERT_EQ(1u, shell.boxes.size());
    EXPECT_EQ(dialog, shell.boxes[0].owner);
    EXPECT_EQ("A you sure you want to delete file gone.bin ?", shell.boxes[0].text);
    EXPECT_EQ(nullptr, shell.boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), shell.boxes[0].type);
    EXPECT_EQ(0u, commandsDuring); // the new phone is read only once the delete has ended
    EXPECT_EQ(rowsBefore, rowsDuring);

    EXPECT_TRUE(phoneFile("gone.bin"));
    // The delete, bound to the phone that went, fails at once; then the new phone is read.
    EXPECT_EQ("Deleting file gone.binUSB: IO Failed!\r\nCMD: Data write fail!\r\n Fail!\r\n"
              "Receiving file list... ok\r\nFiles found: 2\r\n",
              logText(dialog));
    EXPECT_EQ((std::vector<std::string>{"gone.bin", "keep.bin"}), listColumn(dialog, 0));
}

TEST_F(WindowCommandsTest, RowsListedBeforeTheWatcherSawAReplug_AreRefusedUntilUpdateList) {
    open(flatPhone(), false); // rows listed by "Update list"; no list is read on a connection
    PhoneLink& link = window->session().link;
    const auto generation = link.generation();
    driver->unplug();
    ASSERT_TRUE(pumpUntil(dialog, [&] { return statusPart(dialog, 0) == "Not connected"; }));
    driver->plug();
    ASSERT_TRUE(pumpUntil(dialog, [&] {
        return statusPart(dialog, 0) == "Connected" && link.generation() == generation + 2;
    }));
    ASSERT_EQ((std::vector<std::string>{"gone.bin", "keep.bin"}), listColumn(dialog, 0));

    select({"keep.bin"});
    SetDlgItemTextA(dialog, IDC_LOG, "");
    const auto before = driver->commandCount();
    command(IDC_DOWNLOAD_FILES);
    EXPECT_EQ("The list is from an earlier connection: Update list first.\r\n", logText(dialog));
    EXPECT_EQ(before, driver->commandCount());
    EXPECT_TRUE(script.flags.empty()); // no save dialog

    command(IDC_UPDATE_LIST);
    select({"keep.bin"});
    SetDlgItemTextA(dialog, IDC_LOG, "");
    script.names.push_back(folder + "\\again.bin");
    command(IDC_DOWNLOAD_FILES);
    EXPECT_EQ("File download...keep.bin ok\r\n", logText(dialog));
    EXPECT_EQ(pattern(1500, 1), readFile(folder + "\\again.bin"));
}

TEST_F(WindowCommandsTest, ListKeys_F5ReadsCtrlASelectsAllEnterAndDoubleClickDownloadDelDeletes) {
    open(flatPhone(), false);
    HWND list = GetDlgItem(dialog, IDC_LIST);
    pressKey(dialog, list, VK_F5);
    EXPECT_EQ("Receiving file list... ok\r\nFiles found: 2\r\n", logText(dialog));

    pressKey(dialog, list, 'A', true);
    EXPECT_EQ(2, SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0));
    SetFocus(list);
    SetDlgItemTextA(dialog, IDC_LOG, "");
    script.names.push_back(folder + "\\gone.bin");
    pressKey(dialog, list, VK_RETURN); // the dialog's Enter, with the list focused
    EXPECT_EQ("File download...gone.bin ok\r\nFile download...keep.bin ok\r\n", logText(dialog));
    EXPECT_EQ(pattern(1500, 1), readFile(folder + "\\keep.bin"));

    select({"keep.bin"});
    SetDlgItemTextA(dialog, IDC_LOG, "");
    script.names.push_back(folder + "\\again.bin");
    RECT row{};
    row.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(row.left + 20, (row.top + row.bottom) / 2));
    pumpPending(dialog);
    EXPECT_EQ("File download...keep.bin ok\r\n", logText(dialog));
    EXPECT_EQ(pattern(1500, 1), readFile(folder + "\\again.bin"));

    select({"gone.bin"});
    SetDlgItemTextA(dialog, IDC_LOG, "");
    shell.answers.push_back(IDYES);
    pressKey(dialog, list, VK_DELETE);
    EXPECT_EQ("Deleting file gone.bin ok\r\n", logText(dialog));
    EXPECT_FALSE(phoneFile("gone.bin"));
}

TEST_F(WindowCommandsTest, FilesDroppedOnTheListAndOnATreeFolder_GoThere_ADroppedFolderIsRefused) {
    sim::PhoneProfile p = flatPhone();
    p.volume = "/a";
    p.entrySize = 268;
    p.files = {{"/a/b/old.bin", 0, 0, {1}}, {"/a/c/old.bin", 0, 0, {2}}};
    open(p, false);
    writeFile(folder + "\\one.bin", pattern(700, 1));
    writeFile(folder + "\\two.bin", pattern(30, 2));
    HWND tree = GetDlgItem(dialog, IDC_TREE);
    HTREEITEM root = treeNext(dialog, nullptr, TVGN_ROOT);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(childNamed(dialog, root, "b")));
    SetDlgItemTextA(dialog, IDC_LOG, "");

    postDrop(dialog, GetDlgItem(dialog, IDC_LIST), {folder + "\\one.bin", folder + "\\two.bin"});
    pumpPending(dialog);
    EXPECT_EQ("File upload... /a/b/one.bin ok\r\n/a/b/two.bin ok\r\n", logText(dialog));
    EXPECT_EQ(pattern(700, 1), phoneFile("/a/b/one.bin"));
    EXPECT_EQ(pattern(30, 2), phoneFile("/a/b/two.bin"));

    RECT node{};
    const HTREEITEM c = childNamed(dialog, root, "c");
    std::memcpy(&node, &c, sizeof c); // the rectangle asked for names its node

    ASSERT_TRUE(SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&node)));
    const POINT onNode{(node.left + node.right) / 2, (node.top + node.bottom) / 2};
    SetDlgItemTextA(dialog, IDC_LOG, "");
    postDrop(dialog, tree, {folder + "\\two.bin"}, onNode);
    pumpPending(dialog);
    EXPECT_EQ("File upload... /a/c/two.bin ok\r\n", logText(dialog));
    EXPECT_EQ(pattern(30, 2), phoneFile("/a/c/two.bin"));

    const std::string sub = folder + "\\photos";
    CreateDirectoryA(sub.c_str(), nullptr);
    SetDlgItemTextA(dialog, IDC_LOG, "");
    postDrop(dialog, tree, {folder + "\\one.bin", sub}, onNode);
    pumpPending(dialog);
    RemoveDirectoryA(sub.c_str());
    EXPECT_EQ("File upload... photos Fail: folders cannot be dropped, only files\r\n", logText(dialog));
    EXPECT_FALSE(phoneFile("/a/c/one.bin"));
}

TEST_F(WindowCommandsTest, EscDuringAMultiFileDownload_NoPartFileAndLaterFilesUntouched_PaintedButDeafMeanwhile) {
    sim::PhoneProfile p = flatPhone();
    p.files = {{"a.bin", 0, 0, pattern(100, 1)}, {"big.bin", 0, 0, pattern(8000, 2)}, {"c.bin", 0, 0, pattern(300, 3)}};
    open(p, false); // rows c.bin, big.bin, a.bin
    select({"a.bin", "big.bin", "c.bin"});
    script.names.push_back(folder + "\\c.bin");
    writeFile(folder + "\\dropped.bin", pattern(10, 4));
    HWND list = GetDlgItem(dialog, IDC_LIST);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    HWND update = GetDlgItem(dialog, IDC_UPDATE_LIST);

    bool othersSent = false;
    bool escSent = false;
    bool paintedMeanwhile = false;
    duringRequests = [&] {
        const LRESULT position = SendMessageA(bar, PBM_GETPOS, 0, 0);
        if (!othersSent && position >= 300 + 1024) {
            // A click, a drop and a repaint due, in the middle of big.bin.
            InvalidateRect(list, nullptr, TRUE);
            PostMessageA(update, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
            PostMessageA(update, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
            postDrop(dialog, list, {folder + "\\dropped.bin"});
            othersSent = true;
        } else if (othersSent && !escSent && position >= 300 + 3 * 1024) {
            paintedMeanwhile = !GetUpdateRect(list, nullptr, FALSE);
            PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 1);
            escSent = true;
        }
    };
    command(IDC_DOWNLOAD_FILES);
    duringRequests = nullptr;
    pumpPending(dialog);

    ASSERT_TRUE(escSent);
    EXPECT_EQ("File download...c.bin ok\r\nFile download...big.bin Canceled.\r\n", logText(dialog));
    EXPECT_EQ(pattern(300, 3), readFile(folder + "\\c.bin"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\big.bin").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\a.bin").c_str()));
    EXPECT_FALSE(driver->withPhone([](sim::VirtualPhone& phone) { return phone.fileSystem().openName().has_value(); }));
    EXPECT_FALSE(phoneFile("dropped.bin"));
    EXPECT_TRUE(paintedMeanwhile);
    PBRANGE range{};
    SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(8400, range.iHigh);

    // Esc with no transfer running is the dialog's, and does nothing.
    pressKey(dialog, list, VK_ESCAPE);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ("File download...c.bin ok\r\nFile download...big.bin Canceled.\r\n", logText(dialog));
}

TEST_F(WindowCommandsTest, CtrlSInTheLogPane_TheRealSaveDialogAsksBeforeReplacing_TheFileGetsThePanesText) {
    open(flatPhone(), false);
    window->log().appendLog("first line\r\nsecond");
    writeFile(folder + "\\old.log", pattern(100, 1));
    script.names.push_back(folder + "\\old.log");
    script.answerReplaceYes = true;
    pressKey(dialog, GetDlgItem(dialog, IDC_LOG), 'S', true);

    ASSERT_EQ(1u, script.flags.size());
    EXPECT_NE(0u, script.flags[0] & OFN_OVERWRITEPROMPT);
    EXPECT_EQ(1u, script.replaceQuestions.size());
    const Bytes saved = readFile(folder + "\\old.log");
    EXPECT_EQ("first line\r\nsecond", std::string(saved.begin(), saved.end()));
    EXPECT_EQ("first line\r\nsecondSaving log to " + folder + "\\old.log ok\r\n", logText(dialog));
}

} // namespace
} // namespace telvane::win32
