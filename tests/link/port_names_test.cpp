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

TEST(PortNames, WindowsList) {
    const struct {
        Names dos;
        Names list;
    } cases[] = {
        {{"COM3", "COM10", "COM1"}, {"COM1", "COM3", "COM10"}},
        {{"COM4", "COM2", "COM1"}, {"COM4", "COM2", "COM1"}},
        {{"com7", "COM1234", "COMX1", "LPT1", "C:", "COM256"}, {"COM7", "COM256"}},
        {{"COM2x", "COM12"}, {"COM2X", "COM12"}}, // one length: the order found
        {{}, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}},
        {{"LPT1", "NUL"}, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowsPortList(c.dos), c.list);
}

TEST(PortNames, LinuxOrderAndFallback) {
    EXPECT_EQ(PortListOrFallback({"ttyUSB0", "ttyS4", "ttyACM0"}, "ttyS", true),
              (Names{"ttyS4", "ttyACM0", "ttyUSB0"}));
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
