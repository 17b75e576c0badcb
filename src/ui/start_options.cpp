#include "ui/start_options.h"

namespace telvane {

std::optional<StartOptions> parseStartOptions(std::span<const std::string> args, std::string& error) {
    StartOptions options;
    // The window is a Windows program: the phone on whichever of the maker's driver and WinUSB
    // reaches it.
    options.device.kind = DeviceChoice::Kind::Auto;
    options.device.text = "auto";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--device" && hasValue) {
            const auto choice = parseDeviceChoice(args[++i], error);
            if (!choice) return std::nullopt;
            options.device = *choice;
        } else if (arg == "--screenshot" && hasValue) {
            options.screenshotPath = args[++i];
        } else {
            error = "unknown option \"" + arg + "\"; usage: telvane [--device auto | driver | usb[:PATH] | virtual[:PROFILE] | tcp:HOST:PORT] [--screenshot PATH]";
            return std::nullopt;
        }
    }
    return options;
}

} // namespace telvane
