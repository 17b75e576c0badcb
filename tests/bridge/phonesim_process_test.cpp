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
#include "support/child_process.h"
#include "support/fake_clock.h"
#include "support/recording_listener.h"

extern char** environ;

#ifdef TELVANE_PHONESIM_PATH
namespace telvane {
namespace {

// The simulator as a child process steered on its standard input.
class Phonesim : public test::ChildProcess {
public:
    explicit Phonesim(std::vector<std::string> args) : ChildProcess(withProgram(std::move(args))) {}

private:
    static std::vector<std::string> withProgram(std::vector<std::string> args) {
        args.insert(args.begin(), TELVANE_PHONESIM_PATH);
        return args;
    }
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
