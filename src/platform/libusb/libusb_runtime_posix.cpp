#include "platform/libusb/libusb_runtime.h"

#ifndef _WIN32
namespace telvane {

bool libusbAvailable(std::string&) { return true; }

} // namespace telvane
#endif
