#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/device_port.h"

namespace telvane::test {

// A message-mode named pipe whose client end is opened through the device port, so driver
// requests on it are real overlapped requests: FSCTL_PIPE_TRANSCEIVE sends the input as one
// message and completes with the server's answer, which the test plays from the server end.
class PipePair {
public:
    static constexpr std::uint32_t kTransceiveCode = 0x0011C017;

    explicit PipePair(DevicePort& port);
    ~PipePair();
    PipePair(const PipePair&) = delete;
    PipePair& operator=(const PipePair&) = delete;

    bool ok() const { return client_ != 0; }
    DeviceHandle client() const { return client_; }

    // Server end (blocking): the next message the client sent, and an answer to it.
    std::vector<std::uint8_t> readMessage();
    bool answer(const std::vector<std::uint8_t>& bytes);
    // Cuts the pipe from the server's side: the client's pending request ends in failure.
    void closeServer();

private:
    DevicePort& port_;
    HANDLE server_ = INVALID_HANDLE_VALUE;
    DeviceHandle client_ = 0;
};

} // namespace telvane::test
