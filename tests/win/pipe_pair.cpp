#include "pipe_pair.h"

#include <atomic>

#include "platform/win32/win32_handle.h"

namespace telvane::test {

namespace {
std::string uniquePipeName() {
    static std::atomic<int> counter{0};
    return "\\\\.\\pipe\\telvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(counter.fetch_add(1));
}
} // namespace

PipePair::PipePair(DevicePort& port) : port_(port) {
    const std::string name = uniquePipeName();
    server_ = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                               1, 4096, 4096, 0, nullptr);
    if (server_ == INVALID_HANDLE_VALUE) return;
    client_ = port_.open(name);
    if (client_ == 0) return;
    // Transceive needs the client to read whole messages.
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(win32::toHandle(client_), &mode, nullptr, nullptr)) {
        port_.close(client_);
        client_ = 0;
    }
}

PipePair::~PipePair() {
    port_.close(client_);
    closeServer();
}

std::vector<std::uint8_t> PipePair::readMessage() {
    std::vector<std::uint8_t> message(4096);
    DWORD got = 0;
    if (!ReadFile(server_, message.data(), static_cast<DWORD>(message.size()), &got, nullptr)) got = 0;
    message.resize(got);
    return message;
}

bool PipePair::answer(const std::vector<std::uint8_t>& bytes) {
    DWORD written = 0;
    return WriteFile(server_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void PipePair::closeServer() {
    if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
    server_ = INVALID_HANDLE_VALUE;
}

} // namespace telvane::test
