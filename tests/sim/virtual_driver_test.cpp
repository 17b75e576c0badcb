#include "sim/virtual_driver.h"

#include <gtest/gtest.h>

#include "link/command_transport.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"

namespace telvane::sim {
namespace {

using test::CaptureLog;
using test::FakeClock;

// The link, unchanged, on the virtual driver: what the program sees of a virtual phone.
class VirtualDriverTest : public ::testing::Test {
protected:
    VirtualDriverTest() { link.setHandle(driver.open(kPhoneInterfacePath)); }

    int suspend() {
        const std::uint8_t payload[1] = {0};
        std::uint32_t length = 0;
        return transport.sendCommand(opcode::kSuspend, payload, 1, nullptr, 0, length);
    }
    void fault(const std::string& text) {
        auto rule = parseFaultRule(text);
        ASSERT_TRUE(rule) << text;
        driver.addFault(*rule);
    }

    VirtualDriver driver;
    PhoneLink link;
    CaptureLog log;
    FakeClock clock;
    UsbChannel channel{driver, link, log};
    CommandTransport transport{channel, clock, log};
};

TEST_F(VirtualDriverTest, SuspendAndRestart_AreAnsweredAndCounted) {
    ASSERT_NE(0u, link.handle());
    EXPECT_EQ(0, suspend());
    std::uint32_t length = 0;
    EXPECT_EQ(0, transport.sendCommand(opcode::kRestart, nullptr, 0, nullptr, 0, length));
    EXPECT_EQ("", log.text());
    EXPECT_EQ(1u, driver.withPhone([](VirtualPhone& p) { return p.suspendCount(); }));
    EXPECT_EQ(1u, driver.withPhone([](VirtualPhone& p) { return p.restartCount(); }));
    EXPECT_EQ(2u, driver.commandCount());
}

TEST_F(VirtualDriverTest, UnknownOpcode_AnswersUnsupported) {
    std::uint32_t length = 0;
    EXPECT_EQ(-1, transport.sendCommand(0x123, nullptr, 0, nullptr, 0, length));
    EXPECT_EQ("UNSUPPORTED/INVALID OPCODE\r\n", log.text());
}

TEST_F(VirtualDriverTest, TransactionFaults_ReachTheLinkAsTheirFailures) {
    struct Case {
        const char* fault;
        int result;
        const char* text;
    } cases[] = {
        {"status=7", -1, "GENERIC FAILURE\r\n"},
        {"wrongseq", 1, "CMD: Answer packet invalid!\r\n"},
        {"badcount", 1, "CMD: Answer packet invalid!\r\n"},
        {"notreply", 1, "CMD: Answer packet invalid!\r\n"},
        {"baddatalen", 1, "CMD: Answer packet invalid!\r\n"},
        {"writetimeout", -1, "USB: IO Time-out!\r\nCMD: Data write fail!\r\n"},
        {"writefail", -1, "USB: IO Failed!\r\nCMD: Data write fail!\r\n"},
        {"readtimeout", -1, "USB: IO Time-out!\r\nCMD: Data read fail!\r\n"},
        {"readfail", -1, "USB: IO Failed!\r\nCMD: Data read fail!\r\n"},
        {"noreply", -1, "CMD: Answer wait timeout!\r\n"},
    };
    for (const auto& c : cases) {
        driver.clearFaults();
        fault(std::string(c.fault) + "*1");
        log.clear();
        EXPECT_EQ(c.result, suspend()) << c.fault;
        EXPECT_EQ(c.text, log.text()) << c.fault;
        // The fault is spent: the next command goes through.
        log.clear();
        EXPECT_EQ(0, suspend()) << "after " << c.fault;
        EXPECT_EQ("", log.text()) << "after " << c.fault;
    }
}

TEST_F(VirtualDriverTest, FaultTargets_OpcodeAndNthCommand) {
    fault("status=5@0x22");
    fault("status=3#3");
    EXPECT_EQ(0, suspend());                                   // 1
    std::uint32_t length = 0;
    EXPECT_EQ(-1, transport.sendCommand(opcode::kRestart, nullptr, 0, nullptr, 0, length)); // 2
    EXPECT_EQ(-1, suspend());                                  // 3
    EXPECT_EQ(0, suspend());                                   // 4
    EXPECT_EQ("UNSUPPORTED/INVALID PARAMETER FOR OPCODE\r\nCOMMAND NOT SUPPORTED FOR CURRENT MODE\r\n", log.text());
}

TEST_F(VirtualDriverTest, UnplugFault_LeavesTheHandleDead) {
    fault("unplug#1");
    EXPECT_NE(0, suspend());
    EXPECT_FALSE(driver.isPlugged());
    EXPECT_TRUE(driver.listInterfaces().empty());
    // A replug does not revive the old handle; a new open works.
    driver.plug();
    log.clear();
    EXPECT_EQ(-1, suspend());
    link.setHandle(driver.open(kPhoneInterfacePath));
    log.clear();
    EXPECT_EQ(0, suspend());
}

TEST(FaultRuleParse, AcceptsTheDocumentedFormsAndRejectsJunk) {
    auto r = parseFaultRule("status=7@0x4a/1#3*2");
    ASSERT_TRUE(r);
    EXPECT_EQ(FaultKind::Status, r->kind);
    EXPECT_EQ(7u, r->value);
    EXPECT_EQ(0x4A, *r->opcode);
    EXPECT_EQ(1u, *r->subcommand);
    EXPECT_EQ(3u, *r->nth);
    EXPECT_EQ(2u, r->times);
    EXPECT_TRUE(parseFaultRule("noreply"));
    EXPECT_TRUE(parseFaultRule("count=0xffff@0x4a/7"));
    for (const char* bad : {"", "status", "status=16", "bogus", "noreply#0", "noreply#x", "status=1@0x1000",
                            "status=-1", "noreply*"})
        EXPECT_FALSE(parseFaultRule(bad)) << bad;
}

TEST(VirtualDriverModes, ModemFirstPhone_SwitchesOnlyOnTheExactCommand) {
    VirtualDriver driver;
    driver.setModemPort("COM7");
    EXPECT_EQ("COM7", driver.modemPort());
    EXPECT_TRUE(driver.listInterfaces().empty());
    const std::string wrong = "at+mode=8\r";
    EXPECT_TRUE(driver.writeModem("COM7", std::span(reinterpret_cast<const std::uint8_t*>(wrong.data()), wrong.size())));
    EXPECT_EQ("COM7", driver.modemPort());
    const std::string right = kModeSwitchCommand;
    EXPECT_FALSE(driver.writeModem("COM8", std::span(reinterpret_cast<const std::uint8_t*>(right.data()), right.size())));
    EXPECT_TRUE(driver.writeModem("COM7", std::span(reinterpret_cast<const std::uint8_t*>(right.data()), right.size())));
    EXPECT_EQ("", driver.modemPort());
    EXPECT_EQ(std::vector<std::string>{kPhoneInterfacePath}, driver.listInterfaces());
}

TEST(VirtualDriverModes, ForeignInterface_IsListedFirstAndNamedOtherwise) {
    VirtualDriver driver;
    driver.setForeignInterface(true);
    auto paths = driver.listInterfaces();
    ASSERT_EQ(2u, paths.size());
    EXPECT_EQ(kForeignInterfacePath, paths[0]);
    PhoneLink link;
    CaptureLog log;
    UsbChannel channel(driver, link, log);
    std::array<char, 261> name{};
    ASSERT_EQ(0, channel.readInterfaceString(driver.open(paths[0]), 2, name));
    EXPECT_STRNE(kPhoneInterfaceName, name.data());
    ASSERT_EQ(0, channel.readInterfaceString(driver.open(paths[1]), 2, name));
    EXPECT_STREQ(kPhoneInterfaceName, name.data());
}

} // namespace
} // namespace telvane::sim
