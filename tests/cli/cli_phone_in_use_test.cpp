// telvane-cli on a phone that another program is using, served over the bridge.

#include <chrono>
#include <sstream>

#include <gtest/gtest.h>

#include "bridge/bridge_client.h"
#include "bridge/bridge_server.h"
#include "session/open_device.h"
#include "sim/virtual_driver.h"
#include "support/fake_clock.h"
#include "tools/cli/cli.h"

namespace telvane {
namespace {

TEST(CliPhoneInUse, PhoneHeldByAnotherProgram_IsSaidSoAtOnceAndFreedWhenItLetsGo) {
    sim::VirtualDriver driver;
    BridgeServer server(driver, [&driver] { driver.shutdown(); });
    ASSERT_TRUE(server.start(0));
    BridgeClient other("127.0.0.1", server.port());
    const DeviceHandle held = other.open(sim::kPhoneInterfacePath);
    ASSERT_NE(0u, held);

    std::ostringstream out;
    std::ostringstream err;
    test::FakeClock clock;
    cli::CliEnvironment environment(out, err, clock, openDevicePort);
    const std::vector<std::string> args = {"--device", "tcp:127.0.0.1:" + std::to_string(server.port()), "--wait",
                                           "30", "info"};

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cli::kExitFailed, cli::runCli(args, environment));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_LT(clock.sleptMs(), 1000u); // not after waiting out --wait
    EXPECT_NE(std::string::npos, err.str().find("is in use by another program")) << err.str();
    EXPECT_EQ("", out.str());

    other.close(held);
    err.str("");
    EXPECT_EQ(cli::kExitDone, cli::runCli(args, environment)) << err.str();
    EXPECT_NE(std::string::npos, out.str().find("model:")) << out.str();
}

} // namespace
} // namespace telvane
