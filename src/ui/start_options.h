#pragma once
#include <optional>
#include <span>
#include <string>

#include "session/device_choice.h"

namespace telvane {

// What the program's command line asks for.
struct StartOptions {
    DeviceChoice device;        // auto unless --device says otherwise
    std::string screenshotPath; // where to save a picture of the window once the files are listed
};

// Understands "--device auto | driver | usb[:PATH] | virtual[:PROFILE] | tcp:HOST:PORT" and
// "--screenshot PATH". Nothing, with the reason in error, for anything else.
std::optional<StartOptions> parseStartOptions(std::span<const std::string> args, std::string& error);

} // namespace telvane
