#pragma once
// A fake /sys, /dev and /proc under a fresh temp folder, laid out as the
// kernel lays out serial devices: /sys/class/tty/<name> links to the tty's
// folder under /sys/devices, whose "device" link leads to the port device,
// whose "driver" link names the driver; USB attributes sit on an ancestor.
// Removed with everything in it.

#include "PortName.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

class CFakeSerialTree {
public:
    CFakeSerialTree()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "port-tree-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_root = pattern;
        for (const char* dir : {"sys/class/tty", "dev/serial/by-id", "dev/serial/by-path", "proc", "program/ports",
                                "user/ports"})
            std::filesystem::create_directories(m_root + "/" + dir);
    }
    ~CFakeSerialTree()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    CFakeSerialTree(const CFakeSerialTree&) = delete;
    CFakeSerialTree& operator=(const CFakeSerialTree&) = delete;

    devupdate::link::SPortPlaces Places() const
    {
        devupdate::link::SPortPlaces places;
        places.sysRoot = m_root + "/sys";
        places.devRoot = m_root + "/dev";
        places.procRoot = m_root + "/proc";
        places.programPortsDir = m_root + "/program/ports/";
        places.userPortsDir = m_root + "/user/ports/";
        return places;
    }
    const std::string& Root() const { return m_root; }

    // A tty: deviceDir (under /sys/devices) is the port device with its
    // driver; attributes go into the tty's own folder (e.g. "type").
    void AddTty(const std::string& name, const std::string& deviceDir, const std::string& driver,
                const std::map<std::string, std::string>& ttyAttributes = {},
                const std::map<std::string, std::string>& deviceAttributes = {})
    {
        const std::string device = m_root + "/sys/devices/" + deviceDir;
        const std::string tty = device + "/tty/" + name;
        std::filesystem::create_directories(tty);
        std::filesystem::create_directory_symlink(device, tty + "/device");
        if (!driver.empty()) {
            const std::string driverDir = m_root + "/sys/bus/drivers/" + driver;
            std::filesystem::create_directories(driverDir);
            std::filesystem::create_directory_symlink(driverDir, device + "/driver");
        }
        for (const auto& [key, value] : ttyAttributes)
            Write(tty + "/" + key, value + "\n");
        for (const auto& [key, value] : deviceAttributes)
            Write(device + "/" + key, value + "\n");
        std::filesystem::create_directory_symlink(tty, m_root + "/sys/class/tty/" + name);
        Write(m_root + "/dev/" + name, "");
    }
    // A tty without a device behind it (a virtual console).
    void AddVirtualTty(const std::string& name)
    {
        const std::string tty = m_root + "/sys/devices/virtual/tty/" + name;
        std::filesystem::create_directories(tty);
        std::filesystem::create_directory_symlink(tty, m_root + "/sys/class/tty/" + name);
    }
    // USB device attributes in a folder under /sys/devices.
    void AddUsbDevice(const std::string& dir, const std::map<std::string, std::string>& attributes)
    {
        std::filesystem::create_directories(m_root + "/sys/devices/" + dir);
        for (const auto& [key, value] : attributes)
            Write(m_root + "/sys/devices/" + dir + "/" + key, value + "\n");
    }
    // A link such as "dev/serial/by-id/usb-x" or "user/ports/com3".
    void Link(const std::string& from, const std::string& to)
    {
        std::filesystem::create_symlink(to, m_root + "/" + from);
    }
    // A process in the fake /proc holding `device` open.
    void AddProcess(int pid, const std::string& name, const std::string& device)
    {
        const std::string dir = m_root + "/proc/" + std::to_string(pid);
        std::filesystem::create_directories(dir + "/fd");
        Write(dir + "/comm", name + "\n");
        std::filesystem::create_symlink(device, dir + "/fd/3");
    }

    static void Write(const std::string& path, const std::string& text)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out)
            throw std::runtime_error("cannot write " + path);
    }

private:
    std::string m_root;
};
