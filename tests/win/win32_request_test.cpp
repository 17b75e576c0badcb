#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/usb_channel.h"
#include "pipe_pair.h"
#include "platform/win32/win32_device_port.h"
#include "support/capture_log.h"

namespace telvane {
namespace {

using test::CaptureLog;
using test::PipePair;

constexpr std::uint8_t kSentinel = 0xEE;

// A scratch file in the temporary folder, removed again at the end.
class TempFile {
public:
    TempFile() {
        char folder[MAX_PATH] = {};
        char name[MAX_PATH] = {};
        if (GetTempPathA(MAX_PATH, folder) != 0 && GetTempFileNameA(folder, "tvn", 0, name) != 0) path_ = name;
    }
    ~TempFile() {
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(Win32RequestTest, RequestRefusedAtOnce_FailsAtOnceInsteadOfWaitingOutItsLimit) {
    // As on a handle whose device has gone: the driver refuses without signalling the event.
    TempFile file;
    ASSERT_FALSE(file.path().empty());
    Win32DevicePort port;
    PhoneLink link;
    CaptureLog log;
    UsbChannel channel{port, link, log};
    const DeviceHandle handle = port.open(file.path());
    ASSERT_NE(0u, handle);
    link.setHandle(handle);

    std::uint8_t buffer[12] = {0xC1, 0, 0, 0, 8, 0, 8, 0};
    std::size_t length = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(-1, channel.controlRead(buffer, sizeof buffer, length)); // a 40 s limit
    const DWORD elapsed = GetTickCount() - start;

    EXPECT_EQ(std::vector<std::string>{"USB: IO Failed!\r\n"}, log.entries());
    EXPECT_LT(elapsed, 2000u);
    port.close(handle);
}

TEST(Win32RequestTest, AnsweredRequest_CompletesWithTheAnswerAndItsLength) {
    Win32DevicePort port;
    PipePair pipe(port);
    ASSERT_TRUE(pipe.ok());
    const std::vector<std::uint8_t> input = {0xC1, 0, 0, 0, 0, 0, 8, 0, 0};
    const std::vector<std::uint8_t> answer = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6};
    std::vector<std::uint8_t> received;
    std::thread server([&] {
        received = pipe.readMessage();
        pipe.answer(answer);
    });

    std::array<std::uint8_t, 80> area;
    area.fill(kSentinel);
    std::span<std::uint8_t> output(area.data(), 64);
    const RequestResult result = port.request(pipe.client(), PipePair::kTransceiveCode, input, output, 5000);
    server.join();

    EXPECT_EQ(input, received);
    ASSERT_EQ(RequestOutcome::Completed, result.outcome);
    ASSERT_EQ(answer.size(), result.outputLength);
    EXPECT_TRUE(std::equal(answer.begin(), answer.end(), area.begin()));
    EXPECT_TRUE(std::all_of(area.begin() + 64, area.end(), [](std::uint8_t b) { return b == kSentinel; }));
}

TEST(Win32RequestTest, AnswerLongerThanTheOutput_NeverWritesPastIt) {
    Win32DevicePort port;
    PipePair pipe(port);
    ASSERT_TRUE(pipe.ok());
    std::thread server([&] {
        pipe.readMessage();
        pipe.answer(std::vector<std::uint8_t>(32, 0x5A));
    });

    std::array<std::uint8_t, 24> area;
    area.fill(kSentinel);
    const std::uint8_t input[2] = {2, 0};
    const RequestResult result =
        port.request(pipe.client(), PipePair::kTransceiveCode, input, std::span<std::uint8_t>(area.data(), 8), 5000);
    server.join();

    // A message that does not fit is no complete answer.
    EXPECT_EQ(RequestOutcome::Failed, result.outcome);
    EXPECT_EQ(0u, result.outputLength);
    EXPECT_TRUE(std::all_of(area.begin() + 8, area.end(), [](std::uint8_t b) { return b == kSentinel; }));
}

TEST(Win32RequestTest, RequestEndedByTheOtherSide_Fails) {
    Win32DevicePort port;
    PipePair pipe(port);
    ASSERT_TRUE(pipe.ok());
    std::thread server([&] {
        pipe.readMessage();
        pipe.closeServer();
    });

    std::array<std::uint8_t, 16> output{};
    const std::uint8_t input[2] = {2, 0};
    const DWORD start = GetTickCount();
    const RequestResult result = port.request(pipe.client(), PipePair::kTransceiveCode, input, output, 5000);
    server.join();

    EXPECT_EQ(RequestOutcome::Failed, result.outcome);
    EXPECT_LT(GetTickCount() - start, 4000u); // ended by the event, not by the limit
}

TEST(Win32RequestTest, UnansweredRequest_TimesOutAndIsCancelledBeforeTheNextOne) {
    Win32DevicePort port;
    PipePair pipe(port);
    ASSERT_TRUE(pipe.ok());
    std::array<std::uint8_t, 16> output{};
    const std::uint8_t first[2] = {1, 0};
    EXPECT_EQ(RequestOutcome::TimedOut,
              port.request(pipe.client(), PipePair::kTransceiveCode, first, output, 50).outcome);

    // The cancelled request is over: the next one on the same port and handle gets its own answer.
    std::vector<std::uint8_t> stale;
    std::vector<std::uint8_t> fresh;
    std::thread server([&] {
        stale = pipe.readMessage();
        fresh = pipe.readMessage();
        pipe.answer({7, 7, 7});
    });
    const std::uint8_t second[2] = {2, 0};
    const RequestResult result = port.request(pipe.client(), PipePair::kTransceiveCode, second, output, 5000);
    server.join();

    EXPECT_EQ((std::vector<std::uint8_t>{1, 0}), stale);
    EXPECT_EQ((std::vector<std::uint8_t>{2, 0}), fresh);
    ASSERT_EQ(RequestOutcome::Completed, result.outcome);
    EXPECT_EQ(3u, result.outputLength);
    EXPECT_EQ(7, output[0]);
}

} // namespace
} // namespace telvane
