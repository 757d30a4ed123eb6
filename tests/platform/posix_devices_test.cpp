// The POSIX platform's serial lines on a pseudo-terminal, its missing USB driver
// devices and its per-thread message queues.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ImgEngine.h"
#include "transport/SerialTransport.h"
#include "base/Sync.h"
#include "transport/UsbTransport.h"
#include "platform/Messages.h"
#include "platform/Serial.h"
#include "platform/Threads.h"

namespace {

namespace p = vel::platform;

// A pseudo-terminal whose slave is "\com<n>" through VEL_SERIAL_PREFIX.
class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[64] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const std::string path(name);
    const auto slash = path.rfind('/');
    const int index = std::atoi(path.c_str() + slash + 1);
    setenv("VEL_SERIAL_PREFIX", path.substr(0, slash + 1).c_str(), 1);
    port = "\\\\.\\COM" + std::to_string(index + 1);
    portNumber = index + 1;
  }
  void TearDown() override {
    unsetenv("VEL_SERIAL_PREFIX");
    close(master);
    close(slave);
  }
  int master = -1, slave = -1, portNumber = 0;
  std::string port;
};

TEST_F(PtyTest, OverlappedReadsAndWritesOnAnExclusiveLine) {
  p::NativeFile* f = p::deviceOpen(port.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(p::deviceOpen(port.c_str()), nullptr);  // held
  p::SerialSettings settings;
  EXPECT_TRUE(p::serialConfigure(f, settings));
  EXPECT_TRUE(p::serialSetBaudRate(f, 9600));

  vel::Event e(true, false);
  p::IoOperation* op = p::ioOperationCreate(e.native());
  const char out[] = "host to imager";
  ASSERT_NE(p::deviceWrite(f, out, sizeof out, op), p::IoStart::kFailed);
  ASSERT_TRUE(p::eventWait(e.native(), 2000));
  uint32_t n = 0;
  EXPECT_TRUE(p::deviceResult(f, op, &n));
  EXPECT_EQ(n, sizeof out);
  char got[sizeof out] = {};
  size_t have = 0;
  while (have < sizeof got) {
    const ssize_t r = ::read(master, got + have, sizeof got - have);
    ASSERT_GT(r, 0);
    have += static_cast<size_t>(r);
  }
  EXPECT_STREQ(got, out);

  char in[6] = {};
  ASSERT_NE(p::deviceRead(f, in, sizeof in, op), p::IoStart::kFailed);
  EXPECT_FALSE(p::eventWait(e.native(), 30));  // pending until all six arrive
  ASSERT_EQ(::write(master, "abc", 3), 3);
  ASSERT_EQ(::write(master, "def", 3), 3);
  ASSERT_TRUE(p::eventWait(e.native(), 2000));
  EXPECT_TRUE(p::deviceResult(f, op, &n));
  EXPECT_EQ(std::string(in, 6), "abcdef");

  // A cancelled read has ended once the cancel returns and reports failure.
  ASSERT_NE(p::deviceRead(f, in, sizeof in, op), p::IoStart::kFailed);
  p::deviceCancel(f);
  p::ioSettle(f, op);
  EXPECT_FALSE(p::deviceResult(f, op, &n));

  p::deviceClose(f);
  p::ioOperationDestroy(op);
  f = p::deviceOpen(port.c_str());  // free again after closing
  EXPECT_NE(f, nullptr);
  p::deviceClose(f);
}

TEST_F(PtyTest, SerialTransportOpensButAnUnansweredBreakLeavesItFailed) {
  vel::SerialTransport t(portNumber);
  ASSERT_TRUE(t.opened());
  EXPECT_TRUE(t.setBaudRate(57600));
  t.reset();  // nobody answers the break on a pseudo-terminal
  EXPECT_TRUE(t.failed());
}

// The port map puts the pseudo-terminal's own path behind another COM number.
TEST_F(PtyTest, APortMappedToADevicePathOpensThatDevice) {
  const std::string path = ttyname(slave);
  setenv("VEL_SERIAL_PORT_42", path.c_str(), 1);
  {
    vel::SerialTransport t(42);
    ASSERT_TRUE(t.opened()) << path;
    vel::SerialTransport again(portNumber);
    EXPECT_FALSE(again.opened()) << "the same device, held by the mapped port";
  }
  setenv("VEL_SERIAL_PORT_42", "/dev/no-such-device", 1);
  EXPECT_FALSE(vel::SerialTransport(42).opened());
  unsetenv("VEL_SERIAL_PORT_42");
}

// The terminal-mode quit on a real line: COM3 is the pseudo-terminal through a
// link named by the serial prefix.
TEST_F(PtyTest, TerminalModeQuitWritesItsBytesAt8N1Binary) {
  char dir[] = "/tmp/velquitXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/tty2";
  char name[64] = {};
  ASSERT_EQ(ttyname_r(slave, name, sizeof name), 0);
  ASSERT_EQ(symlink(name, link.c_str()), 0);
  setenv("VEL_SERIAL_PREFIX", (std::string(dir) + "/tty").c_str(), 1);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_cflag |= PARENB | CSTOPB;
  before.c_iflag |= INPCK;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);

  EXPECT_EQ(VelQuitTerminalModeOutput(3, 19200), 1);
  char got[6] = {};
  size_t have = 0;
  while (have < sizeof got) {
    const ssize_t r = ::read(master, got + have, sizeof got - have);
    ASSERT_GT(r, 0);
    have += static_cast<size_t>(r);
  }
  EXPECT_EQ(std::string(got, sizeof got), std::string("quit!\0", 6));
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B19200));
  EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(after.c_iflag & INPCK, 0u);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
  EXPECT_EQ(VelQuitTerminalModeOutput(3, 12345), -1) << "a rate the line does not offer";
  unlink(link.c_str());
  rmdir(dir);
}

TEST(PosixDevices, TheImagersUsbDriverDevicesDoNotExist) {
  EXPECT_EQ(p::deviceOpen("\\\\.\\CorvidUsbDriverDevice0"), nullptr);
  EXPECT_FALSE(p::deviceProbe("\\\\.\\CorvidUsbDriverDevice0"));
  vel::UsbTransport t;
  EXPECT_FALSE(t.opened());
  vel::Usb2Transport t2;
  EXPECT_FALSE(t2.opened());
}

TEST(PosixMessages, WindowsAndThreadsReceiveWhatIsPostedToThem) {
  p::Message m{};
  uint32_t id = 0;
  vel::Event ready(true, false), posted(true, false);
  p::Window w = nullptr;
  std::thread receiver([&] {
    w = p::messageWindowCreate();
    id = p::currentThreadId();
    ready.set();
    posted.wait();
    p::Message a{}, b{};
    EXPECT_TRUE(p::messageTake(&a, 1000));
    EXPECT_TRUE(p::messageTake(&b, 1000));
    EXPECT_EQ(a.window, w);
    EXPECT_EQ(a.lParam, 1);
    EXPECT_EQ(b.window, nullptr);
    EXPECT_EQ(b.lParam, 2);
    p::messageWindowDestroy(w);
  });
  ready.wait();
  EXPECT_TRUE(p::postWindowMessage(w, 0x504, 0, 1));
  EXPECT_TRUE(p::postThreadMessage(id, 0x504, 0, 2));
  posted.set();
  receiver.join();
  EXPECT_FALSE(p::postWindowMessage(w, 0x504, 0, 1));  // window gone
  EXPECT_FALSE(p::postThreadMessage(id, 0x504, 0, 1));  // thread gone with its queue
  EXPECT_FALSE(p::messageTake(&m, 0));
}

}  // namespace
