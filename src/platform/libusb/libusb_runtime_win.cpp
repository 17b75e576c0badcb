// libusb-1.0.dll is loaded at run time, not linked: the program starts without it, and users
// may replace it (its licence asks for that). The libusb functions the port calls are defined
// here and forward to the DLL's; without the DLL they fail as libusb fails with no device.
#ifdef _WIN32
#include <libusb.h>

#include <string>

#include "platform/libusb/libusb_runtime.h"

namespace telvane {

namespace {

constexpr const char* kDllName = "libusb-1.0.dll";

struct LibusbApi {
    decltype(&::libusb_init) init = nullptr;
    decltype(&::libusb_exit) exit = nullptr;
    decltype(&::libusb_get_device_list) getDeviceList = nullptr;
    decltype(&::libusb_free_device_list) freeDeviceList = nullptr;
    decltype(&::libusb_get_active_config_descriptor) getActiveConfigDescriptor = nullptr;
    decltype(&::libusb_get_config_descriptor) getConfigDescriptor = nullptr;
    decltype(&::libusb_free_config_descriptor) freeConfigDescriptor = nullptr;
    decltype(&::libusb_get_port_numbers) getPortNumbers = nullptr;
    decltype(&::libusb_get_bus_number) getBusNumber = nullptr;
    decltype(&::libusb_get_device_descriptor) getDeviceDescriptor = nullptr;
    decltype(&::libusb_control_transfer) controlTransfer = nullptr;
    decltype(&::libusb_ref_device) refDevice = nullptr;
    decltype(&::libusb_unref_device) unrefDevice = nullptr;
    decltype(&::libusb_open) open = nullptr;
    decltype(&::libusb_close) close = nullptr;
    decltype(&::libusb_claim_interface) claimInterface = nullptr;
    decltype(&::libusb_release_interface) releaseInterface = nullptr;
    bool loaded = false;
    std::string why; // when not loaded
};

std::string programFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return {};
    std::string folder(path, length);
    const auto slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

template <typename Function>
bool resolve(HMODULE dll, const char* name, Function& function, std::string& missing) {
    // GetProcAddress's type fits no function: through the generic one, as its callers must.
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
    if (function == nullptr && missing.empty()) missing = name;
    return function != nullptr;
}

LibusbApi loadApi() {
    LibusbApi api;
    // Only the copy beside the program: never one that another folder on the search path offers.
    const std::string path = programFolder() + kDllName;
    HMODULE dll = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (dll == nullptr) {
        const DWORD error = GetLastError();
        api.why = error == ERROR_MOD_NOT_FOUND
                      ? std::string(kDllName) + " is not beside the program (" + path + ")"
                      : std::string(kDllName) + " could not be loaded from " + path + " (error " +
                            std::to_string(error) + ")";
        return api;
    }
    std::string missing;
    resolve(dll, "libusb_init", api.init, missing);
    resolve(dll, "libusb_exit", api.exit, missing);
    resolve(dll, "libusb_get_device_list", api.getDeviceList, missing);
    resolve(dll, "libusb_free_device_list", api.freeDeviceList, missing);
    resolve(dll, "libusb_get_active_config_descriptor", api.getActiveConfigDescriptor, missing);
    resolve(dll, "libusb_get_config_descriptor", api.getConfigDescriptor, missing);
    resolve(dll, "libusb_free_config_descriptor", api.freeConfigDescriptor, missing);
    resolve(dll, "libusb_get_port_numbers", api.getPortNumbers, missing);
    resolve(dll, "libusb_get_bus_number", api.getBusNumber, missing);
    resolve(dll, "libusb_get_device_descriptor", api.getDeviceDescriptor, missing);
    resolve(dll, "libusb_control_transfer", api.controlTransfer, missing);
    resolve(dll, "libusb_ref_device", api.refDevice, missing);
    resolve(dll, "libusb_unref_device", api.unrefDevice, missing);
    resolve(dll, "libusb_open", api.open, missing);
    resolve(dll, "libusb_close", api.close, missing);
    resolve(dll, "libusb_claim_interface", api.claimInterface, missing);
    resolve(dll, "libusb_release_interface", api.releaseInterface, missing);
    if (!missing.empty()) {
        FreeLibrary(dll);
        api = LibusbApi{};
        api.why = path + " is not a libusb 1.0 (it has no " + missing + ")";
        return api;
    }
    api.loaded = true; // kept loaded for the process's life
    return api;
}

const LibusbApi& api() {
    static const LibusbApi loaded = loadApi();
    return loaded;
}

} // namespace

bool libusbAvailable(std::string& why) {
    if (!api().loaded) why = api().why;
    return api().loaded;
}

} // namespace telvane

using telvane::api;

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
    return api().loaded ? api().init(ctx) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
void LIBUSB_CALL libusb_exit(libusb_context* ctx) {
    if (api().loaded) api().exit(ctx);
}
ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
    return api().loaded ? api().getDeviceList(ctx, list) : static_cast<ssize_t>(LIBUSB_ERROR_NOT_SUPPORTED);
}
void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unrefDevices) {
    if (api().loaded) api().freeDeviceList(list, unrefDevices);
}
int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device* dev, libusb_config_descriptor** config) {
    return api().loaded ? api().getActiveConfigDescriptor(dev, config) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* dev, uint8_t index, libusb_config_descriptor** config) {
    return api().loaded ? api().getConfigDescriptor(dev, index, config) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
void LIBUSB_CALL libusb_free_config_descriptor(libusb_config_descriptor* config) {
    if (api().loaded) api().freeConfigDescriptor(config);
}
int LIBUSB_CALL libusb_get_port_numbers(libusb_device* dev, uint8_t* ports, int length) {
    return api().loaded ? api().getPortNumbers(dev, ports, length) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* dev) { return api().loaded ? api().getBusNumber(dev) : 0; }
int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* descriptor) {
    return api().loaded ? api().getDeviceDescriptor(dev, descriptor) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                                        uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                                        unsigned int timeout) {
    return api().loaded ? api().controlTransfer(handle, requestType, request, value, index, data, length, timeout)
                        : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* dev) {
    return api().loaded ? api().refDevice(dev) : dev;
}
void LIBUSB_CALL libusb_unref_device(libusb_device* dev) {
    if (api().loaded) api().unrefDevice(dev);
}
int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** handle) {
    return api().loaded ? api().open(dev, handle) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
    if (api().loaded) api().close(handle);
}
int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int number) {
    return api().loaded ? api().claimInterface(handle, number) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}
int LIBUSB_CALL libusb_release_interface(libusb_device_handle* handle, int number) {
    return api().loaded ? api().releaseInterface(handle, number) : static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
}

} // extern "C"
#endif
