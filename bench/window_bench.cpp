// The window's figures, run under Wine: filling the list and the tree from the in-process
// virtual phone once the list has been read, showing one folder, and downloading 1 MiB through
// the device bridge from telvane-phonesim.
//   telvane-bench-window.exe [--no-fills] [--bridge tcp:127.0.0.1:PORT]
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/bench_phones.h"
#include "bridge/bridge_client.h"
#include "platform/win32/timer_resolution.h"
#include "sim/virtual_driver.h"
#include "ui/desktop.h"
#include "ui/win32/main_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/window_file_commands.h"

namespace telvane::bench {
namespace {

using win32::MainWindow;

constexpr double kFillGoalMs = 1000;
constexpr double kFolderGoalMs = 100;
constexpr double kSleepShareGoal = 0.7;

// Handles this thread's messages until done() holds or the time is up.
bool pumpUntil(const std::function<bool()>& done, int limitMs = 60000) {
    const Moment end = now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (now() > end) return false;
        MSG message;
        bool handled = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            handled = true;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (!handled) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

std::string statusPart(HWND dialog, int part) {
    char text[256] = {};
    SendDlgItemMessageA(dialog, IDC_STATUS, SB_GETTEXTA, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text));
    return text;
}

int rowCount(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageA(dialog, IDC_LIST, LVM_GETITEMCOUNT, 0, 0));
}

// Paints whatever the last step left to paint, so the time measured includes the drawing.
void paintNow(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// When the log was last told that the list has been read: the fill starts there.
struct LogWatch {
    WNDPROC original = nullptr;
    bool receiving = false;
    Moment listRead{};
};
LogWatch logWatch;

LRESULT CALLBACK watchedLog(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == EM_REPLACESEL && lParam != 0) {
        const std::string text(reinterpret_cast<const char*>(lParam));
        if (text == "Receiving file list...") {
            logWatch.receiving = true;
        } else if (logWatch.receiving) {
            logWatch.receiving = false;
            if (text == " ok\r\n") logWatch.listRead = now();
        }
    }
    return CallWindowProcA(logWatch.original, edit, message, wParam, lParam);
}

// The window on a phone, connected.
class WindowRun {
public:
    WindowRun(DevicePort& port, Clock& clock) : window_(GetModuleHandleA(nullptr), port, clock, shell_, nullptr, settings()) {}
    ~WindowRun() {
        if (dialog_ != nullptr) SetWindowLongPtrA(GetDlgItem(dialog_, IDC_LOG), GWLP_WNDPROC,
                                                  reinterpret_cast<LONG_PTR>(logWatch.original));
    }

    bool open() {
        dialog_ = window_.createModeless();
        if (dialog_ == nullptr) return false;
        logWatch.original = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            GetDlgItem(dialog_, IDC_LOG), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&watchedLog)));
        return pumpUntil([&] { return statusPart(dialog_, 0) == "Connected"; });
    }
    HWND dialog() const { return dialog_; }
    MainWindow& window() { return window_; }
    win32::WindowShell& shell() { return shell_; }

    // "Update list": the time to read the list, and the time from then to the last row drawn.
    bool updateList(double& readMs, double& fillMs) {
        logWatch.listRead = Moment{};
        const Moment start = now();
        SendMessageA(dialog_, WM_COMMAND, IDC_UPDATE_LIST, 0);
        paintNow(dialog_);
        const Moment end = now();
        if (logWatch.listRead == Moment{}) return false;
        readMs = std::chrono::duration<double, std::milli>(logWatch.listRead - start).count();
        fillMs = std::chrono::duration<double, std::milli>(end - logWatch.listRead).count();
        return true;
    }

private:
    static MainWindow::Settings settings() {
        char folder[MAX_PATH] = {};
        GetTempPathA(sizeof folder, folder);
        return {std::string(folder) + "telvane-bench-none.ini", {}};
    }

    win32::SystemShell shell_;
    MainWindow window_;
    HWND dialog_ = nullptr;
};

HTREEITEM treeNext(HWND dialog, HTREEITEM item, UINT relation) {
    return reinterpret_cast<HTREEITEM>(
        SendDlgItemMessageA(dialog, IDC_TREE, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

void fill(const std::string& name, const sim::PhoneProfile& profile, bool tree) {
    const std::string goal = "<= " + fixed(kFillGoalMs, 0) + " ms after the list is read";
    sim::VirtualDriver driver(std::make_unique<sim::VirtualPhone>(profile));
    SteadyClock clock;
    {
        WindowRun run(driver, clock);
        double readMs = 0;
        double fillMs = 0;
        if (!run.open()) {
            failedFigure(name, "no connection", goal);
        } else if (!run.updateList(readMs, fillMs)) {
            failedFigure(name, "the list was not read", goal);
        } else {
            const HWND dialog = run.dialog();
            const int nodes = static_cast<int>(SendDlgItemMessageA(dialog, IDC_TREE, TVM_GETCOUNT, 0, 0));
            const bool whole = tree ? nodes > 1 : rowCount(dialog) == static_cast<int>(profile.files.size());
            if (!whole) {
                failedFigure(name, "not every record is shown", goal);
            } else {
                figure(name, fixed(fillMs, 0) + " ms (list read " + fixed(readMs, 0) + " ms)", goal,
                       fillMs <= kFillGoalMs);
            }
            if (tree && whole) {
                const std::string folderName = "Tree of " + std::to_string(profile.files.size()) +
                                               " files: show a folder of " +
                                               std::to_string(profile.files.size() / (nodes - 1)) + " files";
                const std::string folderGoal = "<= " + fixed(kFolderGoalMs, 0) + " ms";
                HTREEITEM folder = treeNext(dialog, treeNext(dialog, nullptr, TVGN_ROOT), TVGN_CHILD);
                const Moment start = now();
                SendDlgItemMessageA(dialog, IDC_TREE, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(folder));
                paintNow(dialog);
                const double ms = msSince(start);
                if (rowCount(dialog) * (nodes - 1) != static_cast<int>(profile.files.size())) {
                    failedFigure(folderName, "the folder's files are not shown", folderGoal);
                } else {
                    figure(folderName, fixed(ms, 1) + " ms", folderGoal, ms <= kFolderGoalMs);
                }
            }
        }
        driver.shutdown();
    }
}

// The save dialog answered with one path; nothing else is asked.
class SaveTo final : public DesktopDialogs {
public:
    explicit SaveTo(std::string path) : path_(std::move(path)) {}
    bool openFileDialog(FileDialogSetup&) override { return false; }
    bool saveFileDialog(FileDialogSetup& setup) override {
        setDialogName(setup, path_);
        return true;
    }
    bool askYesNo(std::string_view) override { return false; }

private:
    std::string path_;
};

std::uint64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

void bridgeDownload(const std::string& address) {
    const std::string name = "Download 1 MiB in the window, bridge to telvane-phonesim";
    const std::string goal = ">= 70% of what two 1 ms sleeps per command allow";
    const auto bridge = parseBridgeAddress(address);
    if (!bridge) {
        failedFigure(name, "no bridge address", goal);
        return;
    }
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    const std::string path = std::string(folder) + "telvane-bench-download-" + std::to_string(GetCurrentProcessId());
    DeleteFileA(path.c_str());

    // Never destroyed: the watcher waits on the bridge for a removal that does not come, and the
    // process ends with it, as the program does.
    auto& port = *new BridgeClient(bridge->host, bridge->port);
    auto& steady = *new SteadyClock;
    auto& clock = *new SleepMeasuringClock(steady);
    auto& run = *new WindowRun(port, clock);
    auto& dialogs = *new SaveTo(path);
    new win32::WindowFileCommands(run.window(), run.shell(), &dialogs);
    double readMs = 0;
    double fillMs = 0;
    if (!run.open() || !run.updateList(readMs, fillMs) || rowCount(run.dialog()) != 1) {
        failedFigure(name, "no phone with one file", goal);
        return;
    }
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendDlgItemMessageA(run.dialog(), IDC_LIST, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));

    clock.reset();
    const Moment start = now();
    SendMessageA(run.dialog(), WM_COMMAND, IDC_DOWNLOAD_FILES, 0);
    const double ms = msSince(start);
    const std::uint64_t size = fileSize(path);
    DeleteFileA(path.c_str());
    if (size != 1u << 20) {
        failedFigure(name, "the PC file has " + std::to_string(size) + " bytes", goal);
        return;
    }
    // The yardstick the goal was set with: each command's write-poll-read with its two 1 ms
    // sleeps, as long as a 1 ms sleep really is here, one command per KiB, and the download's
    // pauses. A command whose first poll finds the reply sleeps only once, so it can beat it.
    const double commands = 1024;
    const double allowedMs = commands * 2 * clock.pollSleepMs() + clock.pauseMs();
    const double share = allowedMs / ms;
    figure(name,
           fixed(ms / 1024, 2) + " ms/KiB (" + fixed(share * 100, 0) + "% of two sleeps of " +
               fixed(clock.pollSleepMs(), 2) + " ms; " + fixed(clock.sleptMs() / ms * 100, 0) +
               "% of the time asleep)",
           goal, share >= kSleepShareGoal);
}

} // namespace
} // namespace telvane::bench

int main(int argc, char** argv) {
    using namespace telvane::bench;
    // As the program does: 1 ms sleeps while the window lives.
    telvane::TimerResolution timerResolution;
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    // The download first: it is the figure most easily disturbed by what ran before it.
    bool fills = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-fills") fills = false;
        if (arg == "--bridge" && i + 1 < argc) bridgeDownload(argv[i + 1]);
    }
    if (fills) {
        fill("Window fill, flat, 1,000 files", flatFillPhone(1000), false);
        fill("Window fill, flat, 10,000 files", flatFillPhone(10000), false);
        fill("Window fill, tree, 1,000 files in 10 folders", treeFillPhone(1000, 10), true);
        fill("Window fill, tree, 10,000 files in 100 folders", treeFillPhone(10000, 100), true);
    }
    ExitProcess(0);
}
