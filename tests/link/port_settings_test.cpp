// What the terminal driver is told for each line setting, and which queue a close that gave up
// on its drain discards.
#include "../common/pty.h"
#include "link/serial_port_posix.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace tk7v;

TEST(PortSettings, EachChoiceReachesTheTerminalSettings) {
    using P = PortConfig::Parity;
    using S = PortConfig::StopBits;
    const struct {
        std::uint32_t baud;
        std::uint8_t bits;
        P parity;
        S stop;
        speed_t speed;
        tcflag_t flags;
    } cases[] = {
        {9600, 8, P::None, S::One, B9600, CS8},
        {4800, 8, P::Odd, S::One, B4800, CS8 | PARENB | PARODD},
        {19200, 7, P::Even, S::Two, B19200, CS7 | PARENB | CSTOPB},
        {115200, 6, P::Mark, S::One, B115200, CS6 | PARENB | PARODD | CMSPAR},
        {1200, 5, P::Space, S::OneAndHalf, B1200, CS5 | PARENB | CMSPAR | CSTOPB},
    };
    for (const auto& c : cases) {
        PortConfig config;
        config.baudRate = c.baud;
        config.byteSize = c.bits;
        config.parity = c.parity;
        config.stopBits = c.stop;
        termios t{};
        ASSERT_TRUE(TermiosFor(config, t)) << c.baud;
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.flags) << c.baud;
        EXPECT_EQ(::cfgetospeed(&t), c.speed) << c.baud;
        EXPECT_EQ(::cfgetispeed(&t), c.speed) << c.baud;
    }
}

TEST(PortSettings, AStuckDrainDiscardsTheOutputNotTheInput) {
    // In packet mode the master side of a pseudo-terminal learns which queues a flush on the
    // port side discarded.
    const test::Pty pty;
    const int master = pty.master;
    ASSERT_GE(master, 0);
    const int port = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(port, 0);
    termios raw{};
    ::tcgetattr(port, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(port, TCSANOW, &raw);
    int on = 1;
    ASSERT_EQ(::ioctl(master, TIOCPKT, &on), 0);
    ASSERT_EQ(::write(master, "in", 2), 2); // a reply nobody has read yet
    pollfd arrived{port, POLLIN, 0};
    ASSERT_EQ(::poll(&arrived, 1, 5000), 1);

    EXPECT_EQ(SystemCloseCalls().flush(port), 0);
    char packet[8];
    pollfd told{master, POLLIN, 0};
    ASSERT_EQ(::poll(&told, 1, 5000), 1);
    ASSERT_EQ(::read(master, packet, sizeof packet), 1); // a status packet, no data
    EXPECT_EQ(packet[0], TIOCPKT_FLUSHWRITE);
    char input[8];
    EXPECT_EQ(::read(port, input, sizeof input), 2);
    ::close(port);
}
