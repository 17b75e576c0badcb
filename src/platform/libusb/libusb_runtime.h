#pragma once
#include <string>

namespace telvane {

// Whether libusb can be used in this process. Linux builds link it, so it always can; Windows
// builds load libusb-1.0.dll from beside the program the first time this is asked (it is
// optional there: without it the maker's driver still works). When it cannot, why says so.
bool libusbAvailable(std::string& why);

} // namespace telvane
