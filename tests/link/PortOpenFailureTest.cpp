// The line after "Error: COMn in use or does not exist.": the reason for
// each failure, from a fake tree, and from real opens of a pseudo-terminal
// that is busy or that the user may not use.

#include "ComPort.h"
#include "FakeSerialTree.h"
#include "PortOpenFailure.h"
#include "PtyPair.h"
#include "Unprivileged.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>

using namespace devupdate::link;

namespace {

std::string GroupOf(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return "?";
    const struct group* entry = getgrgid(info.st_gid);
    return entry != nullptr ? entry->gr_name : std::to_string(info.st_gid);
}

TEST(PortOpenFailureTest, SaysWhyForEachReason)
{
    CFakeSerialTree tree;
    tree.AddUsbDevice("usb1/1-1", {{"idVendor", "0403"}, {"idProduct", "6001"}});
    tree.AddTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
    tree.AddTty("ttyACM0", "usb1/1-2:1.0", "cdc_acm");
    tree.AddTty("ttyS1", "platform/serial8250.1", "serial8250", {{"type", "0"}});
    tree.Link("user/ports/com3", tree.Root() + "/dev/ttyUSB0");
    tree.Link("user/ports/com7", tree.Root() + "/dev/ttyUSB9");
    ASSERT_EQ(chmod((tree.Root() + "/dev/ttyACM0").c_str(), 0600), 0);
    tree.AddProcess(4242, "ModemManager", tree.Root() + "/dev/ttyUSB0");
    const std::string dev = tree.Root() + "/dev/";
    const std::string user = tree.Root() + "/user/ports/";
    const struct {
        std::string port;
        int error;
        std::string line;
    } cases[] = {
        {"Com7", ENOENT, user + "com7 -> " + dev + "ttyUSB9: no such device.\n"},
        {"Com2", EIO, dev + "ttyS1: no such device.\n"},
        {"Com3", EWOULDBLOCK,
         user + "com3 -> " + dev + "ttyUSB0: busy, held by process 4242 (ModemManager).\n"
                "ModemManager probes new serial adapters. Keep it off this one with a udev rule in "
                "/etc/udev/rules.d/70-serial-update.rules:\n"
                "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
                "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
                "then run 'sudo udevadm control --reload' and plug the adapter in again.\n"},
        {dev + "ttyACM0", EBUSY, dev + "ttyACM0: busy, another program holds it.\n"},
        {dev + "ttyACM0", EACCES, dev + "ttyACM0: permission denied (mode 0600, group " + GroupOf(dev + "ttyACM0") + ").\n"},
        {dev + "ttyACM0", EINVAL, dev + "ttyACM0: Invalid argument.\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExplainPortOpenFailure(c.port, c.error, tree.Places()), c.line) << c.port << " errno " << c.error;
    }
}

TEST(PortOpenFailureTest, BusyNamesTheHoldingProcess)
{
    CPtyPair pty;
    CComPort first;
    ASSERT_TRUE(first.Open(pty.SlavePath(), 57600, 2000));
    CComPort second;
    ASSERT_FALSE(second.Open(pty.SlavePath(), 57600, 2000));
    EXPECT_EQ(second.LastErrno(), EWOULDBLOCK);
    EXPECT_EQ(ExplainPortOpenFailure(pty.SlavePath(), second.LastErrno()),
              pty.SlavePath() + ": busy, held by process " + std::to_string(getpid()) + " (link_tests).\n");
}

TEST(PortOpenFailureTest, PermissionDeniedNamesGroupAndCommand)
{
    CPtyPair pty;
    // The usual first problem: the device belongs to a group the user is not in.
    const struct group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(chown(pty.SlavePath().c_str(), geteuid(), dialout->gr_gid), 0);
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0660), 0);
    const std::string group = "dialout";
    const std::optional<std::string> seen = RunUnprivileged([&pty]() {
        CComPort port;
        if (port.Open(pty.SlavePath(), 57600, 2000))
            return std::string("opened");
        return CurrentUserName() + "|" + ExplainPortOpenFailure(pty.SlavePath(), port.LastErrno());
    });
    ASSERT_TRUE(seen) << "could not run as an ordinary user";
    const std::string userName = seen->substr(0, seen->find('|'));
    EXPECT_EQ(seen->substr(seen->find('|') + 1), pty.SlavePath() + ": permission denied; the device belongs to group " +
                                                     group + ": sudo usermod -aG " + group + " " + userName +
                                                     ", then log in again.\n");
}

}  // namespace
