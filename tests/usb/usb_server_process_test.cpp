// telvane-usbserver as a process of its own on the emulated phone, reached over the bridge.
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "bridge/bridge_client.h"
#include "link/command_transport.h"
#include "link/discovery.h"
#include "services/file_list.h"
#include "services/fs_commands.h"
#include "usb/emulated_phone.h"

extern char** environ;

#ifdef TELVANE_USBSERVER_PATH
namespace telvane {
namespace {

using sim::EmulatedUsbPhone;

// Starts the server (it inherits the preload library and the testbed) and reads the port it
// prints first; 0 when it does not come within five seconds.
std::uint16_t startServer(pid_t& pid) {
    int out[2];
    if (pipe(out) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(TELVANE_USBSERVER_PATH), nullptr};
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string line;
    char c = 0;
    pollfd ready{out[0], POLLIN, 0};
    while (pid > 0 && ::poll(&ready, 1, 5000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    ::close(out[0]);
    return static_cast<std::uint16_t>(std::strtoul(line.c_str(), nullptr, 10));
}

TEST(UsbServerProcess, ServesThePhoneOverTheBridge_AndGivesItBackOnSigterm) {
    test::EmulatedPhone phone;
    pid_t pid = -1;
    const std::uint16_t port = startServer(pid);
    ASSERT_GT(pid, 0);
    ASSERT_NE(0, port);

    BridgeClient client("127.0.0.1", port);
    PhoneLink link;
    test::CaptureLog log;
    SteadyClock clock;
    UsbChannel channel(client, link, log);
    CommandTransport transport(channel, clock, log);
    FileList list(log);
    FsCommands fs(transport, log, list);
    findPhoneInterface(client, link, channel);
    EXPECT_EQ(EmulatedUsbPhone::kCommandPath, link.devicePath());
    std::uint16_t count = 0;
    EXPECT_EQ(0, fs.FsCount(count));
    EXPECT_EQ(sim::builtinPhoneProfile("tree")->files.size(), count);
    EXPECT_EQ("", log.text());

    ASSERT_EQ(0, kill(pid, SIGTERM));
    int status = -1;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ((std::vector<std::string>{"claim 0", "release 0", "claim 8", "release 8"}), phone.bus.interfaceRequests());
}

} // namespace
} // namespace telvane
#endif
