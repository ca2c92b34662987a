// Port information and ComN routes against a fake sysfs/dev tree: a USB
// adapter with a latency timer, a CDC-ACM board, a UART, a ttyS without a
// UART, a virtual console, a by-id link and the user's ComN link.

#include "FakeSerialTree.h"
#include "PortInfo.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace devupdate::link;

namespace {

constexpr char BY_ID[] = "dev/serial/by-id/usb-Acme_USB_Serial_A1B2-if00-port0";

class PortInfoTest : public ::testing::Test {
protected:
    PortInfoTest()
    {
        tree.AddUsbDevice("pci0/usb1/1-1", {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "Acme"},
                                            {"product", "USB Serial"}, {"serial", "A1B2"}});
        tree.AddTty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio", {}, {{"latency_timer", "16"}});
        tree.AddUsbDevice("pci0/usb1/1-2", {{"idVendor", "1209"}, {"idProduct", "0001"},
                                            {"manufacturer", "Widget Works"}, {"product", "Board"}});
        tree.AddTty("ttyACM0", "pci0/usb1/1-2/1-2:1.0", "cdc_acm");
        // Newer kernels: a serial-core "port" device between the tty and the UART's driver.
        tree.AddTty("ttyS0", "platform/serial8250.0/serial8250:0.0", "serial-base/drivers/port", {{"type", "4"}});
        tree.Link("sys/devices/platform/serial8250.0/driver", "../../bus/platform/drivers/serial8250");
        tree.AddTty("ttyS1", "platform/serial8250.1", "serial8250", {{"type", "0"}});
        tree.AddVirtualTty("tty0");
        tree.Link(BY_ID, "../../ttyUSB0");
        tree.Link("user/ports/com3", tree.Root() + "/" + BY_ID);
    }

    std::string Dev(const std::string& name) const { return tree.Root() + "/dev/" + name; }

    CFakeSerialTree tree;
};

TEST_F(PortInfoTest, ListsSerialDevicesWithTheirAdapters)
{
    struct SExpected {
        const char* name;
        const char* driver;
        const char* usbId;
        const char* adapter;
        std::optional<unsigned> latency;
        std::vector<unsigned> comNumbers;
    };
    const SExpected expected[] = {
        {"ttyACM0", "cdc_acm", "1209:0001", "Widget Works Board (1209:0001)", std::nullopt, {}},
        {"ttyS0", "serial8250", ":", "driver serial8250", std::nullopt, {1}},
        {"ttyUSB0", "ftdi_sio", "0403:6001", "Acme USB Serial (0403:6001), serial number A1B2", 16u, {3}},
    };
    const std::vector<SPortInfo> ports = ListSerialPorts(tree.Places());
    ASSERT_EQ(ports.size(), std::size(expected));  // no ttyS1 (no UART), no tty0
    for (size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(ports[i].name, expected[i].name);
        EXPECT_EQ(ports[i].device, Dev(expected[i].name));
        EXPECT_EQ(ports[i].driver, expected[i].driver);
        EXPECT_EQ(ports[i].usbVendor + ":" + ports[i].usbProduct, expected[i].usbId);
        EXPECT_EQ(DescribeAdapter(ports[i]), expected[i].adapter);
        EXPECT_EQ(ports[i].latencyTimerMs, expected[i].latency);
        EXPECT_EQ(ports[i].comNumbers, expected[i].comNumbers);
        EXPECT_TRUE(ports[i].present);
        EXPECT_EQ(ports[i].byId, ports[i].name == std::string("ttyUSB0")
                                     ? std::vector<std::string>{tree.Root() + "/" + BY_ID}
                                     : std::vector<std::string>{});
    }
}

TEST_F(PortInfoTest, FindsTheDeviceBehindLinksOnly)
{
    const SPortPlaces places = tree.Places();
    const std::optional<SPortInfo> viaLink = FindSerialPort(tree.Root() + "/user/ports/com3", places);
    ASSERT_TRUE(viaLink);
    EXPECT_EQ(viaLink->name, "ttyUSB0");
    EXPECT_FALSE(FindSerialPort(Dev("ttyS1"), places));  // no UART behind it
    EXPECT_FALSE(FindSerialPort(Dev("ttyUSB7"), places));
}

TEST_F(PortInfoTest, ToolTipsNameWhereEachEntryLeads)
{
    const std::string root = tree.Root();
    const struct {
        unsigned number;
        std::string tip;
    } cases[] = {
        {1, root + "/dev/ttyS0\ndriver serial8250"},
        {2, root + "/dev/ttyS1: nothing there"},
        {3, root + "/dev/ttyUSB0\nAcme USB Serial (0403:6001), serial number A1B2\nvia " + root +
                "/user/ports/com3 -> " + root + "/" + BY_ID},
        {10, root + "/dev/ttyS9: nothing there"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComPortToolTip(c.number, tree.Places()), c.tip) << "Com" << c.number;
}

TEST(PortRouteTest, ProgramLinkThenUserLinkThenTtyS)
{
    const struct {
        bool programLink;
        bool userLink;
        EPortRoute route;
        const char* path;
    } cases[] = {
        {true, true, EPortRoute::ProgramLink, "/program/ports/com4"},
        {true, false, EPortRoute::ProgramLink, "/program/ports/com4"},
        {false, true, EPortRoute::UserLink, "/user/ports/com4"},
        {false, false, EPortRoute::Default, "/dev/ttyS3"},
    };
    for (const auto& c : cases) {
        CFakeSerialTree tree;
        if (c.programLink)
            tree.Link("program/ports/com4", "/dev/null");
        if (c.userLink)
            tree.Link("user/ports/com4", "/dev/no-such-port");  // dangling still counts
        const SPortTarget target = RoutePortName("COM4", tree.Places());
        EXPECT_EQ(target.route, c.route) << c.path;
        EXPECT_EQ(target.path, tree.Root() + c.path);
    }
}

}  // namespace
