#pragma once
#include <cstddef>

#include "link/device_port.h"

namespace telvane {

// Reads and drops the replies the phone still holds for commands whose sender went away before
// reading them (a program killed between a command and its reply). Left there, each of them
// would answer the next program's commands one command late, and the link refuses a reply to
// another command. At most maxReplies are read; the number dropped.
std::size_t drainPendingReplies(DevicePort& port, DeviceHandle handle, std::size_t maxReplies = 8);

} // namespace telvane
