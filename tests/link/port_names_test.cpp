#include "link/port_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include "../common/pty.h"
#include "link/port_list_posix.h"
#endif

using namespace tk7v;
using Names = std::vector<std::string>;

TEST(PortNames, NaturalOrder) {
    const struct {
        const char *a, *b; // a comes before b; with equal, neither comes first
        bool equal = false;
    } cases[] = {
        {"COM1", "COM2"},
        {"COM2", "COM10"},
        {"COM9", "COM10"},
        {"COM10", "COM256"},
        {"ttyUSB2", "ttyUSB10"},
        {"ttyS0", "ttyUSB0"},
        {"ttyS10", "ttyUSB0"}, // the name first, then the number
        {"ttyACM0", "ttyS0"},
        {"ttyUSB1", "ttyUSB1", true},
        {"ttyS", "ttyS0"}, // a name that ends sooner
        {"ttyTK", "ttyTKV"},
        {"ttyNAMED", "ttyOTHER"},
        {"/dev/serial/by-id/usb-FTDI_A9-if00", "/dev/serial/by-id/usb-FTDI_A10-if00"},
        {"/dev/serial/by-id/usb-FTDI_A10-if00", "/dev/serial/by-id/usb-FTDI_A10-if01"},
        {"/dev/serial/by-id/usb-FTDI_A10-if01",
         "/dev/serial/by-id/usb-FTDI_A11-if00"}, // the first number decides
        {"/dev/serial/by-id/usb-FTDI_A10-if00", "/dev/serial/by-id/usb-FTDI_B1-if00"},
        {"COM01", "COM1"}, // one value: byte order decides, so different names never tie
        {"COM01", "COM2"},
        {"ttyUSB99999999999999999999", "ttyUSB100000000000000000000"}, // past any integer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " : " + c.b);
        EXPECT_EQ(PortNameLess(c.a, c.b), !c.equal);
        EXPECT_FALSE(PortNameLess(c.b, c.a));
    }
}

TEST(PortNames, WindowsList) {
    const struct {
        Names dos;
        Names list;
    } cases[] = {
        {{"COM5", "COM6", "COM7", "COM1", "COM8"}, {"COM1", "COM5", "COM6", "COM7", "COM8"}},
        {{"COM3", "COM10", "COM1"}, {"COM1", "COM3", "COM10"}},
        {{"com7", "COM1234", "COMX1", "LPT1", "C:", "COM256"}, {"COM7", "COM256"}},
        {{"COM12", "COM2x"}, {"COM2X", "COM12"}},
        {{}, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}},
        {{"LPT1", "NUL"}, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowsPortList(c.dos), c.list);
}

TEST(PortNames, LinuxOrderAndFallback) {
    EXPECT_EQ(PortListOrFallback({"ttyUSB10", "ttyUSB2", "ttyS4", "ttyACM0"}, "ttyS", true),
              (Names{"ttyACM0", "ttyS4", "ttyUSB2", "ttyUSB10"}));
    EXPECT_EQ(PortListOrFallback({}, "ttyS", true).front(), "ttyS0");
    EXPECT_EQ(PortListOrFallback({}, "ttyS", true).back(), "ttyS8");
}

TEST(PortNames, SavedIndex) {
    EXPECT_EQ(SelectPortIndex(5, 3), 0);
    EXPECT_EQ(SelectPortIndex(2, 3), 2);
    EXPECT_EQ(SelectPortIndex(-1, 3), 0);
    EXPECT_EQ(SelectPortIndex(8, 9), 8);
    EXPECT_EQ(SelectPortIndex(9, 9), 0);
}

#ifndef _WIN32
TEST(PortNames, LinuxScanFindsHardwareAndVirtualPorts) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("tk7v-ports-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path dev = root / "dev", sys = root / "sys";
    fs::create_directories(dev);
    auto ttyDevice = [&](const std::string& name, const char* type) {
        fs::create_directories(sys / name / "device");
        if (type) std::ofstream(sys / name / "type") << type << "\n";
        std::ofstream(dev / name) << "";
    };
    ttyDevice("ttyS0", "4"); // a real UART
    ttyDevice("ttyS1", "0"); // declared, nothing behind it
    ttyDevice("ttyUSB0", nullptr);
    fs::create_directories(sys / "tty1"); // a console: no device link
    std::ofstream(dev / "tty1") << "";
    const test::Pty pty;
    ASSERT_GE(pty.master, 0);
    fs::create_symlink(pty.path, dev / "ttyTK7V");    // a virtual port
    fs::create_symlink("/dev/null", dev / "ttyNULL"); // a symlink elsewhere
    const Names found = ScanLinuxPorts(dev.string(), sys.string());
    fs::remove_all(root);
    EXPECT_EQ(found, (Names{"ttyS0", "ttyTK7V", "ttyUSB0"}));
}
#endif
