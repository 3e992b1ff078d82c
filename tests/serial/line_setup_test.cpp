// How each of the three serial lines sets its terminal up and gives it back, seen from a second
// descriptor on the same pseudo-terminal: raw, the line's own speed and frame, no flow control,
// no modem control, the receiver on, while it is open; the termios it found, once it is closed.
// (A pseudo-terminal has no modem lines, so DTR and RTS are not seen here.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "serial/comport.h"
#include "serial/serial_channel.h"
#include "serial/serial_line.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;

// What a program (a getty, a terminal) might leave on a line: cooked, echoing, flow control,
// hang-up on close, 9600 baud.
termios CookedSettings(int fd) {
  termios tio{};
  tcgetattr(fd, &tio);
  tio.c_lflag |= ICANON | ECHO | ISIG;
  tio.c_iflag |= IXON | ICRNL;
  tio.c_oflag |= OPOST | ONLCR;
  tio.c_cflag |= CRTSCTS | HUPCL;
  tio.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcsetattr(fd, TCSANOW, &tio);
  tcgetattr(fd, &tio);
  return tio;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b);
}

TEST(LineSetup, EachLineIsRawWhileOpenAndLeavesTheTerminalAsFound) {
  test::TempDir dir;
  struct Case {
    const char* line;
    speed_t speed;
    tcflag_t size, parity, stop;
    // Opens the line on the peer's device and returns what closes it.
    std::function<std::function<void()>(const std::string& path)> open;
  } const cases[] = {
      {"engine line", B115200, CS8, 0, 0,
       [&dir](const std::string&) -> std::function<void()> {
         Timing timing;
         timing.openAttempts = 1;
         timing.openSettle = 1ms;
         auto line = std::make_shared<CWinRs232cSync>(timing, dir.Path().string());
         if (!line->OpenPort(1)) return nullptr;
         return [line] { line->ClosePort(); };
       }},
      // A pseudo-terminal keeps 8 bits without parity whatever it is told; speed and stop bits
      // show that the set-up line's own frame is taken.
      {"jig set-up line", B9600, CS8, 0, CSTOPB,
       [](const std::string& path) -> std::function<void()> {
         auto port = std::make_shared<CComport>();
         if (!port->Open(path, 9600, 8, PARITY_NONE, STOP_BITS_TWO)) return nullptr;
         return [port] { port->Close(); };
       }},
      {"jig status line", B115200, CS8, 0, 0,
       [](const std::string& path) -> std::function<void()> {
         auto channel = std::make_shared<CSerialChannel>(0ms);
         if (!channel->Connect(path, 115200)) return nullptr;
         return [channel] { channel->Disconnect(); };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    test::PtyPeer peer(dir.Path().string(), 1);
    const std::string device = std::filesystem::canonical(peer.LinkPath()).string();
    const int observer = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(observer, 0);
    const termios found = CookedSettings(observer);

    const std::function<void()> close = c.open(peer.LinkPath());
    ASSERT_TRUE(close);
    termios open{};
    ASSERT_EQ(tcgetattr(observer, &open), 0);
    EXPECT_EQ(open.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(open.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(open.c_oflag & OPOST, 0u);
    EXPECT_EQ(open.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), c.size | c.parity | c.stop);
    EXPECT_EQ(open.c_cflag & (CRTSCTS | CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(cfgetospeed(&open), c.speed);

    close();
    termios after{};
    ASSERT_EQ(tcgetattr(observer, &after), 0);
    EXPECT_TRUE(SameSettings(after, found)) << "the termios found is put back";
    ::close(observer);
  }
}

}  // namespace
}  // namespace mirk3
