// Serial and USB transports against simulated lines and devices behind the device seam.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include "Eventually.h"
#include "devices/DeviceSim.h"
#include "transport/PortMap.h"
#include "transport/SerialTransport.h"
#include "transport/UsbTransport.h"
#include "platform/Time.h"

namespace {

using sim::UsbDriver;
using vel::SerialTransport;
using vel::Usb2Transport;
using vel::UsbTransport;

// The imager end sends back whatever the host writes, until stopped or the line closes.
class Echo {
 public:
  explicit Echo(sim::ImagerLine& line) : line_(line), t_([this] { run(); }) {}
  ~Echo() {
    stop_ = true;
    t_.join();
  }

 private:
  void run() {
    uint8_t buf[512];
    while (!stop_) {
      // A host line recovery drops what the imager had not yet sent back.
      line_.takeLineRecovery();
      if (line_.closed()) {
        vel::platform::sleepMs(5);
        continue;
      }
      const size_t n = line_.read(buf, sizeof buf, 10);
      if (n) line_.write(buf, n);
    }
  }
  sim::ImagerLine& line_;
  std::atomic<bool> stop_{false};
  std::thread t_;
};

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return v;
}

template <typename Stream>
void expectEcho(Stream& t, size_t n, uint8_t seed) {
  const auto out = pattern(n, seed);
  std::vector<uint8_t> in(n, 0);
  t.write(out.data(), out.size(), 2000);
  t.read(in.data(), in.size(), 2000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(in, out);
}

// An abort between a read's look at the fault flag and the start of its request:
// starting the request resets the operation's event, taking the abort's wake-up
// with it. The read must still see the failure instead of waiting for bytes. The
// simulated device runs the abort on the reader's thread as the request starts.
template <typename Transport, typename Line>
void expectAbortAsReadStartsIsSeen(Transport& t, Line& line) {
  t.reset();
  ASSERT_FALSE(t.failed());
  ASSERT_TRUE(line.takeLineRecovery());
  line.setBeforeHostRead([&t] { t.abort(); });
  std::promise<void> returned;
  std::future<void> done = returned.get_future();
  std::thread reader([&] {
    uint8_t buf[16];
    t.read(buf, sizeof buf, -1);  // no time limit: only the abort can end it
    returned.set_value();
  });
  // A lost wake-up leaves the read waiting for bytes; after a generous bound the
  // imager sends them, so that the reader ends and the test reports the fault.
  const bool returnedAlone = done.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  line.setBeforeHostRead(nullptr);
  if (!returnedAlone) {
    const uint8_t bytes[16] = {};
    line.write(bytes, sizeof bytes);
  }
  reader.join();
  EXPECT_TRUE(returnedAlone) << "the read went on waiting after an abort as its request started";
  EXPECT_TRUE(t.failed());
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { devices.install(); }
  sim::DeviceSim devices;
};

TEST_F(SerialTest, OnlyPortsOneToNinetyNineAreOpened) {
  auto com0 = devices.addSerialLine(0);
  auto com100 = devices.addSerialLine(100);
  auto com150 = devices.addSerialLine(150);
  auto com99 = devices.addSerialLine(99);
  for (int port : {0, 100, 150, -1}) {
    SerialTransport t(port);
    EXPECT_FALSE(t.opened()) << port;
    EXPECT_TRUE(t.failed());
    t.reset();  // a closed transport stays failed
    EXPECT_TRUE(t.failed());
  }
  EXPECT_EQ(com0->openCount() + com100->openCount() + com150->openCount(), 0);
  SerialTransport t99(99);
  EXPECT_TRUE(t99.opened());
  EXPECT_EQ(vel::comPortName(3), "\\\\.\\COM3");
  EXPECT_EQ(vel::comPortName(10), "\\\\.\\COM10");
  EXPECT_EQ(vel::comPortName(100), "");
}

TEST_F(SerialTest, PortIsOpenedExclusively) {
  auto line = devices.addSerialLine(3);
  line->holdByOtherProgram(true);
  {
    SerialTransport held(3);
    EXPECT_FALSE(held.opened());
  }
  line->holdByOtherProgram(false);
  SerialTransport first(3);
  EXPECT_TRUE(first.opened());
  EXPECT_TRUE(first.failed());  // opened, but working only after a reset
  SerialTransport second(3);
  EXPECT_FALSE(second.opened());
  EXPECT_EQ(line->lastBaudRate(), 115200u);
  EXPECT_TRUE(first.setBaudRate(57600));
  EXPECT_EQ(line->lastBaudRate(), 57600u);
}

TEST_F(SerialTest, EchoThroughResetsAndLineEvents) {
  auto line = devices.addSerialLine(2);
  Echo echo(*line);
  SerialTransport t(2);
  ASSERT_TRUE(t.opened());
  t.reset();
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(t.lineState(), SerialTransport::kLineRecovered);
  EXPECT_FALSE(line->breakOn());
  expectEcho(t, 1000, 1);
  expectEcho(t, 1, 2);

  line->injectLineEvent(vel::devices::kLineCts);
  EXPECT_TRUE(eventually([&] { return t.failed(); }));
  t.reset();
  ASSERT_FALSE(t.failed());
  expectEcho(t, 3000, 3);
}

// The simulated line keeps a break in its place in the stream: the handshake the
// host writes after its break reaches the imager only once the imager has taken
// the recovery, and what the imager sends before that is lost like any frame cut by a break.
TEST_F(SerialTest, BytesAfterABreakWaitForTheImagerToTakeTheRecovery) {
  auto line = devices.addSerialLine(6);
  SerialTransport t(6);
  ASSERT_TRUE(t.opened());
  t.reset();
  ASSERT_FALSE(t.failed());
  const uint8_t intro[3] = {0x00, 0x00, 0xFF};
  t.write(intro, sizeof intro, 500);
  uint8_t buf[16] = {};
  EXPECT_EQ(line->read(buf, sizeof buf, 30), 0u) << "read before the recovery was taken";
  const uint8_t stale = 0x55;
  line->write(&stale, 1);
  ASSERT_TRUE(line->takeLineRecovery());
  EXPECT_FALSE(line->takeLineRecovery());
  ASSERT_EQ(line->read(buf, sizeof buf, 500), 3u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 3), std::vector<uint8_t>(intro, intro + 3));
  const uint8_t answer = 0xA5;
  line->write(&answer, 1);
  uint8_t got = 0;
  t.read(&got, 1, 500);
  EXPECT_FALSE(t.failed());
  EXPECT_EQ(got, answer) << "the imager's write before it took the recovery reached the host";
}

TEST_F(SerialTest, ReadIsServedInPiecesOf256) {
  auto line = devices.addSerialLine(4);
  SerialTransport t(4);
  t.reset();
  ASSERT_FALSE(t.failed());
  ASSERT_TRUE(line->takeLineRecovery());
  const auto data = pattern(300, 9);
  line->write(data.data(), data.size());
  std::vector<uint8_t> in(300);
  t.read(in.data(), in.size(), 1000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(in, data);
  EXPECT_EQ(line->readRequests(), (std::vector<uint32_t>{256, 44}));
}

TEST_F(SerialTest, DsrChangeFailsAPendingReadAtOnce) {
  auto line = devices.addSerialLine(5);
  SerialTransport t(5);
  t.reset();
  ASSERT_FALSE(t.failed());
  std::atomic<bool> done{false};
  std::thread reader([&] {
    uint8_t buf[16];
    t.read(buf, sizeof buf);  // no time limit: only the line event can end it
    done = true;
  });
  vel::platform::sleepMs(30);
  EXPECT_FALSE(done);
  line->injectLineEvent(vel::devices::kLineDsr);
  reader.join();
  EXPECT_TRUE(t.failed());
  EXPECT_EQ(t.lineState(), SerialTransport::kLineModemChange);

  // A failed stream ignores reads without touching the buffer.
  uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  t.read(buf, sizeof buf, -1);
  EXPECT_EQ(buf[0], 0xAA);
}

TEST_F(SerialTest, AbortAsAReadStartsEndsTheRead) {
  auto line = devices.addSerialLine(8);
  SerialTransport t(8);
  expectAbortAsReadStartsIsSeen(t, *line);
}

TEST_F(SerialTest, ReadTimeoutFailsTheTransport) {
  auto line = devices.addSerialLine(6);
  SerialTransport t(6);
  t.reset();
  ASSERT_FALSE(t.failed());
  uint8_t buf[8];
  line->write(buf, 3);  // fewer bytes than asked
  t.read(buf, sizeof buf, 40);
  EXPECT_TRUE(t.failed());
}

TEST_F(SerialTest, BreakAttemptsDependOnWhatFailedTheLine) {
  auto line = devices.addSerialLine(7);
  line->setAnswerBreaks(false);
  SerialTransport t(7);
  t.reset();  // first reset after opening: line state 1
  EXPECT_TRUE(t.failed());
  EXPECT_EQ(line->breakRequests(), 3);
  EXPECT_TRUE(line->breakOn());  // left set after the last unanswered attempt

  line->injectLineEvent(vel::devices::kLineError);
  ASSERT_TRUE(eventually([&] { return t.lineState() == SerialTransport::kLineBreakOrError; }));
  t.reset();
  EXPECT_TRUE(t.failed());
  EXPECT_EQ(line->breakRequests(), 23);
  // The first attempt found the break still set, so the imager saw one break fewer.
  EXPECT_EQ(line->breakCount(), 22);

  line->setAnswerBreaks(true);
  t.reset();
  EXPECT_FALSE(t.failed());
  // Again the first attempt only renews the break left set; the second is answered.
  // On a loaded machine an answer can miss its window: a later attempt is answered
  // then, one recovery of the imager for each answered attempt.
  const int answered = line->breakRequests() - 24;
  EXPECT_GE(answered, 1);
  EXPECT_FALSE(line->breakOn());
  for (int i = 0; i < answered; ++i) EXPECT_TRUE(line->takeLineRecovery());
  EXPECT_FALSE(line->takeLineRecovery());

  // A break the imager sent on its own earlier is no answer to a later reset.
  line->setAnswerBreaks(false);
  line->injectLineEvent(vel::devices::kLineBreak);
  ASSERT_TRUE(eventually([&] { return t.failed(); }));
  const int before = line->breakRequests();
  t.reset();
  EXPECT_TRUE(t.failed());
  EXPECT_EQ(line->breakRequests() - before, 20);

  // A modem-status change wins over a break that came with it: back to 3 attempts.
  line->injectLineEvent(vel::devices::kLineBreak | vel::devices::kLineDsr);
  EXPECT_TRUE(eventually([&] { return t.lineState() == SerialTransport::kLineModemChange; }));
}

class UsbTest : public ::testing::Test {
 protected:
  void SetUp() override { devices.install(); }
  sim::DeviceSim devices;
};

TEST_F(UsbTest, OpensTheLowestPresentNumberOfItsDriver) {
  {
    UsbTransport none;
    EXPECT_FALSE(none.opened());
    none.reset();
    EXPECT_TRUE(none.failed());
  }
  devices.plugUsb(UsbDriver::kSecond, 0);  // the other driver's device is not ours
  auto five = devices.plugUsb(UsbDriver::kFirst, 5);
  {
    UsbTransport t;
    EXPECT_TRUE(t.opened());
    EXPECT_EQ(t.deviceNumber(), 5);
    EXPECT_TRUE(five->hostOpen());
    UsbTransport second;  // exclusive: the only device is taken
    EXPECT_FALSE(second.opened());
  }
  devices.plugUsb(UsbDriver::kFirst, 0);
  devices.plugUsb(UsbDriver::kFirst, 1);
  UsbTransport t;
  EXPECT_EQ(t.deviceNumber(), 0);
  Usb2Transport t2;
  EXPECT_EQ(t2.deviceNumber(), 0);
}

TEST_F(UsbTest, ReadAheadServesLaterReadsWithoutDriverRequests) {
  auto dev = devices.plugUsb(UsbDriver::kFirst, 0);
  UsbTransport t;
  t.reset();
  ASSERT_FALSE(t.failed());
  ASSERT_TRUE(dev->takeLineRecovery());
  const auto data = pattern(10, 4);
  dev->write(data.data(), data.size());
  uint8_t a[2], b[8];
  t.read(a, sizeof a, 1000);
  EXPECT_EQ(t.bufferedBytes(), 8u);
  t.read(b, sizeof b, 1000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(dev->readRequests(), (std::vector<uint32_t>{4096}));
  EXPECT_EQ(std::vector<uint8_t>(a, a + 2), std::vector<uint8_t>(data.begin(), data.begin() + 2));
  EXPECT_EQ(std::vector<uint8_t>(b, b + 8), std::vector<uint8_t>(data.begin() + 2, data.end()));

  // flush drops what is buffered; a reset does too.
  dev->write(data.data(), data.size());
  t.read(a, 1, 1000);
  t.flush();
  EXPECT_EQ(t.bufferedBytes(), 0u);
}

// A read of at least a driver read's size takes it straight into the caller's
// buffer; the bytes and the driver's request sizes are those of the read-ahead.
// A read of a whole driver request or more goes straight into the caller's buffer.
TEST_F(UsbTest, LongReadsGoStraightIntoTheBuffer) {
  auto dev = devices.plugUsb(UsbDriver::kFirst, 0);
  UsbTransport t;
  t.reset();
  ASSERT_FALSE(t.failed());
  ASSERT_TRUE(dev->takeLineRecovery());
  const auto data = pattern(8010, 6);
  dev->write(data.data(), 5000);
  dev->write(data.data() + 5000, 3000);
  dev->write(data.data() + 8000, 10);
  std::vector<uint8_t> got(8010);
  t.read(got.data(), 8004, 1000);
  t.read(got.data() + 8004, 6, 1000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(got, data);
  EXPECT_EQ(dev->readRequests(), (std::vector<uint32_t>{4096, 4096, 4096, 4096}));
}

TEST_F(UsbTest, Usb2RequestsAreRoundedUpTo32768) {
  EXPECT_EQ(Usb2Transport::requestSize(4), 32768u);
  EXPECT_EQ(Usb2Transport::requestSize(32768), 32768u);
  EXPECT_EQ(Usb2Transport::requestSize(32769), 65536u);
  EXPECT_EQ(Usb2Transport::requestSize(10000000), Usb2Transport::kReceiveBuffer);  // never beyond the buffer

  auto dev = devices.plugUsb(UsbDriver::kSecond, 0);
  Usb2Transport t;
  t.reset();
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(dev->lastControlCode(), 0x222000u);
  EXPECT_EQ(dev->lastControlInput(), (std::vector<uint8_t>{0x20, 0x00}));
  ASSERT_TRUE(dev->takeLineRecovery());

  const auto data = pattern(40000, 1);
  dev->write(data.data(), 4);
  uint8_t small[4];
  t.read(small, 4, 1000);
  EXPECT_EQ(dev->readRequests(), (std::vector<uint32_t>{32768}));

  // 32,769 bytes delivered in two driver transfers, each request sized 65,536.
  dev->write(data.data(), 30000);
  std::vector<uint8_t> big(32769);
  std::thread late([&] {
    vel::platform::sleepMs(30);
    dev->write(data.data() + 30000, 2769);
  });
  t.read(big.data(), big.size(), 2000);
  late.join();
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(dev->readRequests(), (std::vector<uint32_t>{32768, 65536, 65536}));
  EXPECT_TRUE(std::equal(big.begin(), big.end(), data.begin()));
}

TEST_F(UsbTest, WritesGoInSmallRequestsAndShortWritesContinue) {
  auto dev = devices.plugUsb(UsbDriver::kFirst, 0);
  UsbTransport t;
  t.reset();
  EXPECT_EQ(dev->lastControlInput(), std::vector<uint8_t>{});
  ASSERT_TRUE(dev->takeLineRecovery());
  const auto data = pattern(20, 3);
  t.write(data.data(), data.size(), 1000);
  EXPECT_EQ(dev->writeRequests(), (std::vector<uint32_t>{7, 7, 6}));

  dev->setMaxWriteAccepted(4);
  t.write(data.data(), data.size(), 1000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(dev->writeRequests(), (std::vector<uint32_t>{7, 7, 6, 7, 7, 7, 7, 4}));
  std::vector<uint8_t> got(40);
  size_t n = 0;
  while (n < got.size()) {
    const size_t r = dev->read(got.data() + n, got.size() - n, 500);
    ASSERT_GT(r, 0u);
    n += r;
  }
  EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin()));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin() + 20));

  auto dev2 = devices.plugUsb(UsbDriver::kSecond, 0);
  Usb2Transport t2;
  t2.reset();
  ASSERT_TRUE(dev2->takeLineRecovery());
  const auto big = pattern(130, 1);
  t2.write(big.data(), big.size(), 1000);
  EXPECT_EQ(dev2->writeRequests(), (std::vector<uint32_t>{60, 60, 10}));
}

// Each imager write is one transfer and no host read spans two: the second
// driver's reads keep only what was asked, the first driver's read-ahead keeps the rest.
TEST_F(UsbTest, HostReadsEndAtTransferBoundaries) {
  auto dev2 = devices.plugUsb(UsbDriver::kSecond, 0);
  Usb2Transport t2;
  t2.reset();
  ASSERT_TRUE(dev2->takeLineRecovery());
  const auto data = pattern(10, 2);
  dev2->write(data.data(), 4);
  dev2->write(data.data() + 4, 6);
  uint8_t header[4], payload[6];
  t2.read(header, 4, 1000);
  t2.read(payload, 6, 1000);
  ASSERT_FALSE(t2.failed());
  EXPECT_EQ(std::vector<uint8_t>(header, header + 4), std::vector<uint8_t>(data.begin(), data.begin() + 4));
  EXPECT_EQ(std::vector<uint8_t>(payload, payload + 6), std::vector<uint8_t>(data.begin() + 4, data.end()));
  // A transfer longer than what was wanted loses its surplus on this transport.
  dev2->write(data.data(), 10);
  dev2->write(data.data() + 7, 3);
  uint8_t three[3];
  t2.read(three, 3, 1000);
  t2.read(three, 3, 1000);
  ASSERT_FALSE(t2.failed());
  EXPECT_EQ(std::vector<uint8_t>(three, three + 3), std::vector<uint8_t>(data.begin() + 7, data.end()));

  auto dev = devices.plugUsb(UsbDriver::kFirst, 0);
  UsbTransport t;
  t.reset();
  ASSERT_TRUE(dev->takeLineRecovery());
  for (size_t i = 0; i < 9; i += 3) dev->write(data.data() + i, 3);
  uint8_t nine[9];
  t.read(nine, 9, 1000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(std::vector<uint8_t>(nine, nine + 9), std::vector<uint8_t>(data.begin(), data.begin() + 9));
  EXPECT_EQ(dev->readRequests().size(), 3u);  // one driver read per transfer
}

// Until the imager has taken a line recovery it reads nothing (so it never takes
// the host's handshake for ordinary traffic) and what it writes is lost.
TEST_F(UsbTest, ImagerSeesHostBytesOnlyAfterTakingTheRecovery) {
  auto dev = devices.plugUsb(UsbDriver::kFirst, 0);
  UsbTransport t;
  t.reset();
  ASSERT_FALSE(t.failed());
  const uint8_t hello[3] = {0x00, 0x00, 0xFF};
  t.write(hello, sizeof hello, 1000);
  uint8_t got[8] = {};
  EXPECT_EQ(dev->read(got, sizeof got, -1), 0u);  // returns at once although bytes wait
  dev->write(hello, sizeof hello);                // lost: the host is waiting for the answer
  ASSERT_TRUE(dev->takeLineRecovery());
  EXPECT_EQ(dev->read(got, sizeof got, 1000), 3u);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 3), std::vector<uint8_t>(hello, hello + 3));
  const uint8_t answer[2] = {0xA5, 0x01};
  dev->write(answer, sizeof answer);
  uint8_t back[2] = {};
  t.read(back, sizeof back, 1000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(back[0], 0xA5);
  EXPECT_EQ(back[1], 0x01);
}

TEST_F(UsbTest, FirstResetMakesThreeAttemptsLaterOnesTwenty) {
  auto dev = devices.plugUsb(UsbDriver::kFirst, 0);
  dev->setRefuseControl(true);
  UsbTransport t;
  t.reset();
  EXPECT_TRUE(t.failed());
  EXPECT_EQ(dev->controlCount(), 3);
  t.reset();  // still the first successful reset pending
  EXPECT_EQ(dev->controlCount(), 6);
  dev->setRefuseControl(false);
  t.reset();
  EXPECT_FALSE(t.failed());
  EXPECT_EQ(dev->controlCount(), 7);
  EXPECT_TRUE(dev->takeLineRecovery());
  dev->setRefuseControl(true);
  t.reset();
  EXPECT_TRUE(t.failed());
  EXPECT_EQ(dev->controlCount(), 27);
}

template <typename Transport>
void echoWithRecovery(sim::DeviceSim& devices, UsbDriver driver) {
  auto dev = devices.plugUsb(driver, 2);
  Echo echo(*dev);
  Transport t;
  ASSERT_TRUE(t.opened());
  t.reset();
  ASSERT_FALSE(t.failed());
  // Echoes arrive in the driver's own pieces; the first transport keeps what it reads ahead.
  expectEcho(t, 700, 5);
  t.abort();
  EXPECT_TRUE(t.failed());
  uint8_t ignored[4];
  t.read(ignored, 4, -1);  // returns at once
  t.reset();
  ASSERT_FALSE(t.failed());
  expectEcho(t, 2000, 6);

  // Unplugging fails a pending read.
  std::thread pull([&] {
    vel::platform::sleepMs(30);
    dev->unplug();
  });
  std::vector<uint8_t> in(16);
  t.read(in.data(), in.size(), -1);
  pull.join();
  EXPECT_TRUE(t.failed());
}

TEST_F(UsbTest, AbortAsAReadStartsEndsTheRead) {
  auto dev = devices.plugUsb(UsbDriver::kFirst, 0);
  {
    UsbTransport t;
    expectAbortAsReadStartsIsSeen(t, *dev);
  }
  auto dev2 = devices.plugUsb(UsbDriver::kSecond, 0);
  Usb2Transport t2;
  expectAbortAsReadStartsIsSeen(t2, *dev2);
}

TEST_F(UsbTest, UsbEchoThroughAbortAndReset) { echoWithRecovery<UsbTransport>(devices, UsbDriver::kFirst); }

TEST_F(UsbTest, Usb2EchoThroughAbortAndReset) {
  // A read of the second driver takes whole transfers: the echo must come in one piece.
  auto dev = devices.plugUsb(UsbDriver::kSecond, 1);
  Usb2Transport t;
  t.reset();
  ASSERT_FALSE(t.failed());
  ASSERT_TRUE(dev->takeLineRecovery());
  const auto out = pattern(500, 8);
  t.write(out.data(), out.size(), 1000);
  std::vector<uint8_t> got(500);
  size_t n = 0;
  while (n < got.size()) n += dev->read(got.data() + n, got.size() - n, 500);
  dev->write(got.data(), got.size());
  std::vector<uint8_t> in(500);
  t.read(in.data(), in.size(), 1000);
  ASSERT_FALSE(t.failed());
  EXPECT_EQ(in, out);
  t.abort();
  t.reset();
  EXPECT_FALSE(t.failed());
}

}  // namespace
