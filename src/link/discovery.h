#pragma once
#include <string>

#include "common/phone_link.h"
#include "link/device_port.h"
#include "link/usb_channel.h"

namespace telvane {

// The interface string of the phone's command interface.
inline constexpr const char* kCommandInterfaceName = "Motorola Test Command";
// What switches a phone that shows up as a USB modem over to its command interface.
inline constexpr const char* kModeSwitchCommand = "at+mode=8\r\n";

// 0 and the port name when the platform lists a modem port for the phone (a name starting
// with "COM", or a device node starting with "/dev/"), -1 otherwise. Watcher thread.
int queryModemPort(DevicePort& port, std::string& name);

// Writes the mode-switch command to the modem port; 0 when written, -1 otherwise. Watcher thread.
int switchModemToP2k(DevicePort& port, const std::string& name);

// How a search for the command interface ended.
enum class InterfaceSearch {
    Found,
    Absent, // no interface could be opened and recognised
    InUse,  // none found, and at least one could not be opened because another program holds it
};

// Opens each interface of the phone's class in turn and keeps the first whose interface string
// is the command interface's: only that one is published to the link, as its next connection
// (handle, device path, generation). Other interfaces are closed again and never reach the link.
// Silent: only the channel logs failed driver requests. Watcher thread, while the link is down.
InterfaceSearch findPhoneInterface(DevicePort& port, PhoneLink& link, UsbChannel& channel);

} // namespace telvane
