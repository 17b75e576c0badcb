// The link and the services on the phone emulated at the USB level, through the libusb port:
// in this process, and served over the bridge.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "bridge/bridge_client.h"
#include "bridge/bridge_server.h"
#include "link/command_transport.h"
#include "link/connection_watcher.h"
#include "link/discovery.h"
#include "services/file_list.h"
#include "services/fs_commands.h"
#include "services/seem_commands.h"
#include "support/recording_listener.h"
#include "usb/emulated_phone.h"

namespace telvane {
namespace {

using sim::EmulatedUsbPhone;
using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t size) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 11 + 5);
    return data;
}

// The link and services over some device port, with the watcher on its own thread.
struct Session {
    explicit Session(DevicePort& port) : port(port) {}
    ~Session() { stopWatcher(); }
    void startWatcher(const std::function<void()>& wake) {
        wakeWatcher = wake;
        thread = std::thread([this] { watcher.run(); });
    }
    void stopWatcher() {
        if (!thread.joinable()) return;
        watcher.requestStop();
        wakeWatcher();
        thread.join();
    }
    int put(const std::string& name, const Bytes& data) {
        if (fs.FsOpen(name, 0) != 0 || fs.FsWrite(data) != 0) return -1;
        return fs.FsClose();
    }

    DevicePort& port;
    PhoneLink link;
    test::CaptureLog log;
    test::ShortPauseClock clock;
    UsbChannel channel{port, link, log};
    CommandTransport transport{channel, clock, log};
    FileList list{log};
    FsCommands fs{transport, log, list};
    SeemCommands seems{transport};
    test::RecordingListener listener;
    ConnectionWatcher watcher{port, link, channel, clock, listener};
    std::function<void()> wakeWatcher;
    std::thread thread;
};

TEST(UsbPhone, ListUploadDownloadAndSeems_RoundTripThroughLibusb) {
    test::EmulatedPhone phone;
    Session session(phone.port);
    findPhoneInterface(phone.port, session.link, session.channel);
    ASSERT_NE(0u, session.link.handle());
    session.link.setConnected(true);

    NullProgress progress;
    ASSERT_EQ(0, session.list.readFileList(session.fs, progress));
    EXPECT_EQ(sim::builtinPhoneProfile("tree")->files.size(), session.list.count());

    const Bytes data = pattern(2500);
    ASSERT_EQ(0, session.put("/a/usb.bin", data));
    Bytes back(data.size());
    ASSERT_EQ(0, session.fs.FsOpen("/a/usb.bin", 0));
    ASSERT_EQ(0, session.fs.FsSeek(0, 0));
    ASSERT_EQ(0, session.fs.FsRead(back));
    ASSERT_EQ(0, session.fs.FsClose());
    EXPECT_EQ(data, back);
    EXPECT_EQ(data, phone.driver->withPhone([](sim::VirtualPhone& p) { return p.fileSystem().find("/a/usb.bin")->bytes; }));

    const Bytes record = {9, 8, 7, 6, 5};
    Bytes area(4096);
    std::uint32_t size = 0;
    ASSERT_EQ(0, session.seems.writeSeem(0x0032, 1, 0, 5, record));
    ASSERT_EQ(0, session.seems.readSeem(0x0032, 1, area, size));
    EXPECT_EQ(record, Bytes(area.begin(), area.begin() + size));
    EXPECT_EQ("", session.log.text());
    phone.port.close(session.link.handle());
}

TEST(UsbPhone, UnplugDuringDownload_FailsWithinASecond_ThenTheWatcherSeesItGoneAndBack) {
    test::EmulatedPhone phone;
    Session session(phone.port);
    session.startWatcher([&] { phone.port.shutdown(); });
    ASSERT_TRUE(session.listener.waitFor(1));
    EXPECT_EQ(EmulatedUsbPhone::kCommandPath, session.link.devicePath());
    const Bytes data = pattern(2500);
    ASSERT_EQ(0, session.put("/a/down.bin", data));

    // The phone leaves the reply to the first read unanswered, and is unplugged meanwhile.
    phone.driver->addFault(*sim::parseFaultRule("readtimeout@0x4a/1*1"));
    ASSERT_EQ(0, session.fs.FsOpen("/a/down.bin", 0));
    ASSERT_EQ(0, session.fs.FsSeek(0, 0));
    session.log.clear();
    std::chrono::steady_clock::time_point unplugged;
    std::thread unplug([&] {
        if (!phone.bus.waitForHeldTransfer(5000)) return;
        unplugged = std::chrono::steady_clock::now();
        phone.bus.unplug();
    });
    Bytes back(data.size());
    EXPECT_NE(0, session.fs.FsRead(back));
    const auto failed = std::chrono::steady_clock::now();
    unplug.join();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(failed - unplugged).count(), 1000);
    EXPECT_EQ("USB: IO Failed!\r\nCMD: Data read fail!\r\n", session.log.text());

    ASSERT_TRUE(session.listener.waitFor(2));
    EXPECT_EQ((std::vector<int>{1, 0}), session.listener.states());
    phone.bus.plug();
    ASSERT_TRUE(session.listener.waitFor(3));
    EXPECT_EQ((std::vector<int>{1, 0, 1}), session.listener.states());
    std::uint16_t count = 0;
    EXPECT_EQ(0, session.fs.FsCount(count));
    EXPECT_EQ(sim::builtinPhoneProfile("tree")->files.size() + 1, count);
}

TEST(UsbPhone, ServedOverTheBridge_TheWatcherFindsItAndSeesItGo) {
    test::EmulatedPhone phone;
    BridgeServer server(phone.port, [&] { phone.port.shutdown(); });
    ASSERT_TRUE(server.start(0));
    BridgeClient client("127.0.0.1", server.port());
    Session session(client);
    session.startWatcher([&] { server.stop(); });
    ASSERT_TRUE(session.listener.waitFor(1));
    EXPECT_EQ(EmulatedUsbPhone::kCommandPath, session.link.devicePath());
    std::uint16_t count = 0;
    EXPECT_EQ(0, session.fs.FsCount(count));
    phone.bus.unplug();
    ASSERT_TRUE(session.listener.waitFor(2));
    EXPECT_EQ((std::vector<int>{1, 0}), session.listener.states());
    EXPECT_EQ("", session.log.text());
}

} // namespace
} // namespace telvane
