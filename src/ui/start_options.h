#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace telvane {

// What the program's command line asks for.
struct StartOptions {
    enum class Device { Driver, Virtual, Bridge };
    Device device = Device::Driver; // the phone maker's driver unless --device says otherwise
    std::string profile;            // Virtual: the phone profile's name
    std::string bridge;             // Bridge: the whole "tcp:HOST:PORT" text
    std::string screenshotPath;     // where to save a picture of the window once the files are listed
};

inline constexpr const char* kDefaultVirtualProfile = "tree";

// Understands "--device virtual[:PROFILE]", "--device tcp:HOST:PORT" and "--screenshot PATH".
// Nothing, with the reason in error, for anything else.
std::optional<StartOptions> parseStartOptions(std::span<const std::string> args, std::string& error);

} // namespace telvane
