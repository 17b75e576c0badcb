// The program: picks the device port, runs the main window as a modal dialog, and ends the
// process when the window is closed (the watcher thread ends with it).
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "platform/win32/timer_resolution.h"
#include "session/open_device.h"
#include "ui/ini_path.h"
#include "ui/start_options.h"
#include "ui/win32/main_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/window_backup_commands.h"
#include "ui/win32/window_file_commands.h"
#include "ui/win32/window_shell.h"

namespace {

using telvane::StartOptions;

// The device port is made before the window: what it says later (which port auto looks on,
// why a phone on USB cannot be opened) goes to the window's log once the window is there.
class PortLog final : public telvane::LogSink {
public:
    void attach(telvane::LogSink& log) { target_.store(&log); }
    void appendLog(std::string_view text) override {
        if (telvane::LogSink* log = target_.load()) log->appendLog(text);
    }

private:
    std::atomic<telvane::LogSink*> target_{nullptr};
};

[[noreturn]] void refuseToStart(const std::string& why) {
    MessageBoxA(nullptr, why.c_str(), "Telvane", MB_OK | MB_ICONERROR);
    ExitProcess(1);
}

std::string programPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length < sizeof path ? length : 0);
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto options = telvane::parseStartOptions(args, error);
    if (!options) refuseToStart(error);

    // 1 ms sleeps while the window lives: the transaction polls the phone every millisecond.
    telvane::TimerResolution timerResolution;
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HMENU contextMenu = LoadMenuA(instance, MAKEINTRESOURCEA(IDM_CONTEXT));
    PortLog portLog;
    auto port = telvane::openDevicePort(options->device, {}, portLog, error);
    if (!port) refuseToStart(error);
    telvane::SteadyClock clock;
    telvane::win32::SystemShell shell;
    telvane::win32::MainWindow window(instance, *port, clock, shell, contextMenu,
                                      {telvane::iniPathFor(programPath()), options->screenshotPath});
    portLog.attach(window.log());
    telvane::win32::WindowFileCommands fileCommands(window, shell);
    telvane::win32::WindowBackupCommands backupCommands(window, shell);
    window.runModal();
    // The watcher never returns: end the process here, before any destructor would wait for it.
    ExitProcess(0);
}
