// The real telvane-phonesim executable, steered on its standard input and reached over TCP.

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "bridge/bridge_client.h"
#include "link/command_transport.h"
#include "link/connection_watcher.h"
#include "sim/virtual_driver.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "support/recording_listener.h"

extern char** environ;

#ifdef TELVANE_PHONESIM_PATH
namespace telvane {
namespace {

// A child process with pipes on its standard input and output.
class Phonesim {
public:
    explicit Phonesim(std::vector<std::string> args) {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), TELVANE_PHONESIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~Phonesim() {
        if (stdin_ >= 0) ::close(stdin_);
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) ::close(stdout_);
    }

    bool running() const { return pid_ > 0; }
    void closeInput() {
        ::close(stdin_);
        stdin_ = -1;
    }
    void signal(int number) { kill(pid_, number); }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(static_cast<ssize_t>(text.size()), ::write(stdin_, text.data(), text.size()));
    }
    // The next line of its output, waiting at most timeoutMs.
    std::string readLine(int timeoutMs = 5000) {
        std::string line;
        char c = 0;
        while (true) {
            pollfd fd{stdout_, POLLIN, 0};
            if (poll(&fd, 1, timeoutMs) != 1 || ::read(stdout_, &c, 1) != 1) return line;
            if (c == '\n') return line;
            line.push_back(c);
        }
    }
    // Its exit status once it has ended within timeoutMs, else -1.
    int waitExit(int timeoutMs = 5000) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
};

TEST(PhonesimProcess, ServesThePhoneAndObeysItsConsole) {
    Phonesim sim({"--port", "0", "--foreign", "--fault", "status=7@0x22"});
    ASSERT_TRUE(sim.running());
    const std::string portLine = sim.readLine();
    ASSERT_FALSE(portLine.empty());
    const auto address = parseBridgeAddress("tcp:127.0.0.1:" + portLine);
    ASSERT_TRUE(address) << portLine;

    BridgeClient client(address->host, address->port);
    PhoneLink link;
    test::CaptureLog log;
    test::FakeClock clock;
    UsbChannel channel(client, link, log);
    CommandTransport transport(channel, clock, log);
    std::uint32_t replyLength = 0;
    const std::uint8_t payload[1] = {0};

    const auto paths = client.listInterfaces();
    ASSERT_EQ(2u, paths.size());
    EXPECT_EQ(sim::kForeignInterfacePath, paths[0]);
    link.setHandle(client.open(sim::kPhoneInterfacePath));
    ASSERT_NE(0u, link.handle());
    EXPECT_EQ(0, transport.sendCommand(0x36, payload, 1, nullptr, 0, replyLength));
    EXPECT_EQ(-1, transport.sendCommand(0x22, nullptr, 0, nullptr, 0, replyLength));
    EXPECT_EQ("GENERIC FAILURE\r\n", log.text());

    sim.send("unplug");
    sim.send("status"); // answered once the unplug is done
    EXPECT_EQ("plugged=0 commands=2", sim.readLine());
    log.clear();
    EXPECT_EQ(-1, transport.sendCommand(0x36, payload, 1, nullptr, 0, replyLength));
    EXPECT_EQ("USB: IO Failed!\r\nCMD: Data write fail!\r\n", log.text());

    sim.send("quit");
    EXPECT_EQ(0, sim.waitExit());
    EXPECT_TRUE(client.listInterfaces().empty()); // nobody there any more
}

TEST(PhonesimProcess, EndOfInput_KeepsServing_ASignalThenStopsItCleanlyEvenWhileAWaitIsPending) {
    // As started in the background by a shell: its input ends at once.
    Phonesim sim({"--port", "0"});
    ASSERT_TRUE(sim.running());
    const auto address = parseBridgeAddress("tcp:127.0.0.1:" + sim.readLine());
    ASSERT_TRUE(address);
    sim.closeInput();
    EXPECT_EQ(-1, sim.waitExit(300));
    BridgeClient client(address->host, address->port);
    ASSERT_NE(0u, client.open(sim::kPhoneInterfacePath));
    std::thread watcher([&] { client.waitRemoval(sim::kPhoneInterfacePath); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim.signal(SIGTERM);
    EXPECT_EQ(0, sim.waitExit());
    watcher.join(); // the wait ended with the connection
}

TEST(PhonesimProcess, InterruptWhileReadingItsConsole_StopsIt) {
    Phonesim sim({"--port", "0"});
    ASSERT_TRUE(sim.running());
    ASSERT_FALSE(sim.readLine().empty());
    sim.signal(SIGINT);
    EXPECT_EQ(0, sim.waitExit());
}

TEST(PhonesimProcess, WatcherFollowsPlugAndUnplugOverTheBridge) {
    Phonesim sim({"--port", "0", "--modem", "COM7", "--unplugged"});
    ASSERT_TRUE(sim.running());
    const auto address = parseBridgeAddress("tcp:127.0.0.1:" + sim.readLine());
    ASSERT_TRUE(address);
    BridgeClient client(address->host, address->port);
    PhoneLink link;
    test::CaptureLog log;
    test::FakeClock clock; // the watcher's pauses cost nothing
    UsbChannel channel(client, link, log);
    test::RecordingListener listener;
    ConnectionWatcher watcher(client, link, channel, clock, listener);
    std::thread thread([&] { watcher.run(); });

    // Plugged in as a modem: switched over, then found and connected.
    sim.send("plug");
    ASSERT_TRUE(listener.waitFor(1));
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(sim::kPhoneInterfacePath, link.devicePath());

    sim.send("unplug");
    ASSERT_TRUE(listener.waitFor(2));
    EXPECT_FALSE(link.isConnected());
    EXPECT_EQ(0u, link.handle());

    sim.send("plug");
    ASSERT_TRUE(listener.waitFor(3));
    EXPECT_EQ((std::vector<int>{1, 0, 1}), listener.states());
    EXPECT_EQ("", log.text()); // the watcher and discovery are silent

    // Ending the simulator drops the removal wait's connection, which counts as a removal.
    watcher.requestStop();
    sim.send("quit");
    EXPECT_EQ(0, sim.waitExit());
    thread.join();
}

} // namespace
} // namespace telvane
#endif
