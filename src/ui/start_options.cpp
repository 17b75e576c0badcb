#include "ui/start_options.h"

namespace telvane {

namespace {
bool parseDevice(std::string_view text, StartOptions& options) {
    if (text == "virtual") {
        options.device = StartOptions::Device::Virtual;
        options.profile = kDefaultVirtualProfile;
        return true;
    }
    if (text.starts_with("virtual:") && text.size() > 8) {
        options.device = StartOptions::Device::Virtual;
        options.profile = std::string(text.substr(8));
        return true;
    }
    if (text.starts_with("tcp:")) {
        options.device = StartOptions::Device::Bridge;
        options.bridge = std::string(text);
        return true;
    }
    return false;
}
} // namespace

std::optional<StartOptions> parseStartOptions(std::span<const std::string> args, std::string& error) {
    StartOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--device" && hasValue) {
            if (!parseDevice(args[++i], options)) {
                error = "unknown device \"" + args[i] + "\": use virtual[:PROFILE] or tcp:HOST:PORT";
                return std::nullopt;
            }
        } else if (arg == "--screenshot" && hasValue) {
            options.screenshotPath = args[++i];
        } else {
            error = "unknown option \"" + arg + "\"; usage: telvane [--device virtual[:PROFILE] | --device tcp:HOST:PORT] [--screenshot PATH]";
            return std::nullopt;
        }
    }
    return options;
}

} // namespace telvane
