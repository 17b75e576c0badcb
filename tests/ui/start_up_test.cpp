#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/virtual_driver.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "ui/ini_path.h"
#include "session/phone_session.h"
#include "ui/start_options.h"

namespace telvane {
namespace {

TEST(IniPathTest, ExtensionReplacedOrAddedAndDotsInFoldersLeftAlone) {
    EXPECT_EQ("C:\\Programs\\telvane.ini", iniPathFor("C:\\Programs\\telvane.exe"));
    EXPECT_EQ("C:\\my.tools\\telvane.ini", iniPathFor("C:\\my.tools\\telvane"));
    EXPECT_EQ("/opt/x.y/prog.v2.ini", iniPathFor("/opt/x.y/prog.v2.exe"));
    EXPECT_EQ("telvane.ini", iniPathFor("telvane"));
}

std::optional<StartOptions> parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string why;
    auto options = parseStartOptions(args, why);
    if (error) *error = why;
    return options;
}

TEST(StartOptionsTest, DevicesAndScreenshot) {
    auto none = parse({});
    ASSERT_TRUE(none);
    EXPECT_EQ(DeviceChoice::Kind::Auto, none->device.kind);
    EXPECT_EQ("auto", none->device.text);

    for (const char* forced : {"driver", "usb", "usb:1-4:8"}) {
        auto chosen = parse({"--device", forced});
        ASSERT_TRUE(chosen) << forced;
        EXPECT_EQ(forced, chosen->device.text);
        EXPECT_EQ(forced[0] == 'd' ? DeviceChoice::Kind::Driver : DeviceChoice::Kind::Usb, chosen->device.kind);
    }

    auto virt = parse({"--device", "virtual"});
    ASSERT_TRUE(virt);
    EXPECT_EQ(DeviceChoice::Kind::Virtual, virt->device.kind);
    EXPECT_EQ("tree", virt->device.profile);

    auto flat = parse({"--device", "virtual:flat", "--screenshot", "out.bmp"});
    ASSERT_TRUE(flat);
    EXPECT_EQ("flat", flat->device.profile);
    EXPECT_EQ("out.bmp", flat->screenshotPath);

    auto tcp = parse({"--device", "tcp:127.0.0.1:5000"});
    ASSERT_TRUE(tcp);
    EXPECT_EQ(DeviceChoice::Kind::Bridge, tcp->device.kind);
    EXPECT_EQ("127.0.0.1", tcp->device.host);
    EXPECT_EQ(5000, tcp->device.port);
}

TEST(StartOptionsTest, UnknownOrIncompleteOptionsAreRefusedWithAReason) {
    std::string error;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--device"}, {"--device", "usb:"}, {"--device", "virtual:"}, {"--device", "tcp:host"}, {"--screenshot"}, {"-x"}}) {
        EXPECT_FALSE(parse(args, &error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}

class CountingListener final : public LinkStateListener {
public:
    void onLinkState(int state) override { (state == 1 ? connects : removals).fetch_add(1); }
    std::atomic<int> connects{0};
    std::atomic<int> removals{0};
};

TEST(PhoneSessionTest, WatcherOnItsOwnThreadConnectsAndStopsWhenAsked) {
    sim::VirtualDriver driver;
    test::FakeClock clock;
    test::CaptureLog log;
    CountingListener listener;
    PhoneSession session(driver, clock, log, listener);
    session.startWatcher();
    while (listener.connects.load() == 0) std::this_thread::yield();
    EXPECT_TRUE(session.link.isConnected());
    EXPECT_TRUE(session.watcherRunning());

    session.watcher.requestStop();
    driver.shutdown(); // lets the watcher's wait for removal return
    session.stopWatcher();
    EXPECT_FALSE(session.watcherRunning());
    EXPECT_EQ(1, listener.removals.load());
    EXPECT_EQ("", log.text());
}

} // namespace
} // namespace telvane
