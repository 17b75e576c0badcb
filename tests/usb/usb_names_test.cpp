// What the user and the bridge's peers may type for USB devices: paths, ids, device choices.
#include "platform/libusb/usb_device_choice.h"
#include "platform/libusb/usb_names.h"

#include <gtest/gtest.h>

namespace telvane {
namespace {

TEST(UsbNames, InterfacePaths_RoundTrip_AndOtherTextsAreRefused) {
    const UsbInterfacePath path{1, {4, 2}, 8};
    EXPECT_EQ("usb:1-4.2:8", formatUsbPath(path));
    EXPECT_EQ(path, parseUsbPath("usb:1-4.2:8"));
    EXPECT_EQ((UsbInterfacePath{255, {1, 2, 3, 4, 5, 6, 7}, 255}), parseUsbPath("usb:255-1.2.3.4.5.6.7:255"));
    for (const char* text : {"usb:1-4", "usb:-4:8", "usb:1-:8", "usb:1-4.:8", "usb:1-.4:8", "usb:1-4:", "usb:1-4:256",
                             "usb:256-4:8", "usb:1-4:8x", "usb:1-4:+8", "1-4:8", "usb:1-1.2.3.4.5.6.7.8:0", "usb:a-4:8"})
        EXPECT_FALSE(parseUsbPath(text)) << text;
}

TEST(UsbNames, UsbIds_AreTwoHexNumbers_AndAddToTheMakersDevices) {
    EXPECT_EQ((UsbId{0x22B8, 0x4902}), parseUsbId("22b8:4902"));
    EXPECT_EQ((UsbId{0x0BDA, 0x1}), parseUsbId("BDA:1"));
    for (const char* text : {"22b8", "22b8:", ":4902", "0x22b8:1", "12345:1", "g:1", "1:2:3", "-1:2"})
        EXPECT_FALSE(parseUsbId(text)) << text;

    const UsbDeviceFilter filter({{0x1234, 0x5678}});
    EXPECT_TRUE(filter.accepts(kPhoneVendorId, 0x0001));
    EXPECT_TRUE(filter.accepts(0x1234, 0x5678));
    EXPECT_FALSE(filter.accepts(0x1234, 0x5679));
    EXPECT_FALSE(UsbDeviceFilter().accepts(0x1234, 0x5678));
}

TEST(UsbDeviceChoice, UsbAndUsbPath_AreUsbDevices_NothingElse) {
    EXPECT_TRUE(isUsbDeviceChoice("usb"));
    EXPECT_TRUE(isUsbDeviceChoice("usb:1-4:8"));
    for (const char* device : {"usb:", "usbx", "virtual", "tcp:127.0.0.1:5000", ""}) {
        EXPECT_FALSE(isUsbDeviceChoice(device)) << device;
        NullLog log;
        EXPECT_EQ(nullptr, makeUsbDevicePort(device, {}, log)) << device;
    }
}

} // namespace
} // namespace telvane
