// Writes the seed inputs of the fuzz targets from the simulated imager's own
// streams: link bytes of both framings as the host receives them, long responses
// with result and image sections, configuration answers and configuration
// barcodes. Each seed starts with the mode bytes of its target.
//   make_seeds OUTPUT_DIR   (one folder per target below it)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "devices/MemoryLine.h"
#include "imager/ImagerConfigStore.h"
#include "imager/ImagerLink.h"
#include "imager/ImagerResponses.h"
#include "imager/WireCrc.h"
#include "config/ConfigurationFile.h"
#include "link/Link.h"
#include "transport/Telnet.h"

namespace fs = std::filesystem;
using sim::Bytes;

namespace {

fs::path root;

void writeSeed(const char* target, const std::string& name, const Bytes& lead, const Bytes& body) {
  fs::create_directories(root / target);
  std::ofstream out(root / target / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(lead.data()), static_cast<std::streamsize>(lead.size()));
  out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
}

// An imager port that records what is written, and one that acknowledges every block.
class Recorder : public sim::ImagerPort {
 public:
  size_t read(uint8_t*, size_t, int) override { return 0; }
  void write(const uint8_t* data, size_t length) override { bytes.insert(bytes.end(), data, data + length); }
  void flush() override {}
  Bytes bytes;
};
class AlwaysAck : public sim::ImagerPort {
 public:
  size_t read(uint8_t* buffer, size_t length, int) override {
    for (size_t i = 0; i < length; ++i) buffer[i] = 1;
    return length;
  }
  void write(const uint8_t*, size_t) override {}
  void flush() override {}
};

sim::Scene scene(uint16_t width, uint16_t height) {
  sim::Scene s;
  sim::SceneBarcode code;
  code.type = 3;
  code.corners = {10, 20, 110, 21, 12, 80, 111, 81};
  code.ticks = 900;
  code.data = {'S', 'E', 'E', 'D', '-', '1', '2', '8'};
  s.records.push_back(code);
  s.records.push_back(sim::SceneOtherRecord{5, 300});
  s.timing = {100, 200, 300, 400};
  s.exposure = sim::ExposureReport{12, 3400, 1};
  s.image.width = width;
  s.image.height = height;
  s.image.grey.resize(size_t{width} * height);
  for (size_t i = 0; i < s.image.grey.size(); ++i) s.image.grey[i] = static_cast<uint8_t>((i * 37) ^ (i / width));
  return s;
}

void responseSeeds() {
  const sim::ResponseLimits limits{256, 256};
  const Bytes lead = {0, 0, 0, 0xFF, 0x00};  // full response, flags, classification, block size 256
  struct Form {
    const char* name;
    uint8_t flags;
  } forms[] = {{"results", 0x01}, {"binary", 0x03}, {"grey", 0x04}, {"all", 0x0F}, {"compressed", 0x15}};
  for (const Form& f : forms) {
    Recorder out;
    AlwaysAck acks;
    sim::TransferControl control;
    sim::ResponseStream stream(out, acks, sim::Channel::Command, control);
    sim::fullResponse(stream, scene(64, 24), f.flags, limits);
    stream.finish();
    Bytes l = lead;
    l[1] = f.flags;
    writeSeed("response_fuzz", f.name, l, out.bytes);
  }
  Recorder out;
  AlwaysAck acks;
  sim::TransferControl control;
  sim::ResponseStream stream(out, acks, sim::Channel::Command, control);
  const sim::Scene s = scene(64, 24);
  sim::binaryOnlyResponse(stream, s.image, limits);
  stream.finish();
  writeSeed("response_fuzz", "previous-binary", {1, 0, 0, 0xFF, 0x00}, out.bytes);
}

void configurationSeeds() {
  sim::ImagerConfigStore store;
  writeSeed("config_fuzz", "tagged", {0}, store.answerGet(18));
  writeSeed("config_fuzz", "fixed", {1}, store.answerGet(17));  // level 17: the fixed block
  // A tagged configuration barcode: check value, form 7, two items.
  Bytes payload = {7};
  for (const Bytes& item : {sim::taggedItem(3, {1, 0}), sim::taggedItem(9, {0x20, 0x03})})
    payload.insert(payload.end(), item.begin(), item.end());
  writeSeed("config_fuzz", "payload-tagged", {2}, payload);
  const uint16_t check = sim::wireCrc(payload.data(), payload.size());
  Bytes barcode = {uint8_t(check), uint8_t(check >> 8)};
  barcode.insert(barcode.end(), payload.begin(), payload.end());
  writeSeed("config_fuzz", "barcode-tagged", {3, 0x31}, barcode);
}

// What the host's link receives while the imager answers on both channels.
void linkSeeds(sim::Framing framing, vel::LinkKind kind, const char* name, uint8_t lead) {
  sim::MemoryLine line;
  Bytes toHost;
  line.setTap([&](sim::MemoryLine::Direction d, const uint8_t* p, size_t n) {
    if (d == sim::MemoryLine::ToHost) toHost.insert(toHost.end(), p, p + n);
  });
  sim::ImagerLink imager(line.imager(), framing, 0x13572468);
  auto link = vel::createLink(kind, line.host(), 29000000);
  auto command = link->openPortPair(0, 1);
  auto event = link->openPortPair(2, 3);
  uint8_t request[4] = {0x1B, 0, 0, 0};
  command->write(request, sizeof request, 500);
  command->flush();
  uint8_t got[4];
  imager.port(1).read(got, sizeof got, 500);
  const Bytes answer = {0x01, 0x00, 0x10, 0x00, 0x00};
  imager.port(0).write(answer.data(), answer.size());
  imager.port(0).flush();
  uint8_t read[5];
  command->read(read, sizeof read, 1000);
  const Bytes message(300, 0x5A);
  imager.port(2).write(message.data(), message.size());
  imager.port(2).flush();
  Bytes eventBytes(message.size());
  event->read(eventBytes.data(), eventBytes.size(), 1000);
  event.reset();
  command.reset();
  link.reset();
  line.setTap({});
  writeSeed("link_fuzz", name, {lead}, toHost);
}

void keycasterSeeds() {
  Bytes report(65, 0);
  report[0] = 0x22;  // report id, then the count and the data
  report[1] = 20;
  report[20] = 0x0D;  // a trailer of a single report
  const char* code = "0123456789012";
  for (size_t i = 0; code[i]; ++i) report[5 + i] = static_cast<uint8_t>(code[i]);
  writeSeed("keycaster_fuzz", "hid-report", {0, 65}, report);
  Bytes settings(64, 0);
  settings[0] = 3;
  settings[1] = 1;
  writeSeed("keycaster_fuzz", "settings", {1}, settings);
}

// A network serial port server's stream: its option answers, the answer to a
// baud rate, a break notification and data with a doubled IAC; read in pieces of 7.
void telnetSeeds() {
  namespace t = vel::telnet;
  Bytes stream;
  for (uint8_t option : {t::kOptionBinary, t::kOptionSuppressGoAhead}) {
    t::appendNegotiation(stream, t::kDo, option);
    t::appendNegotiation(stream, t::kWill, option);
  }
  t::appendNegotiation(stream, t::kDo, t::kOptionComPort);
  const uint8_t baud[] = {0x00, 0x01, 0xC2, 0x00};
  t::appendComCommand(stream, t::kServerOffset + t::kSetBaudRate, baud, sizeof baud);
  t::appendComCommand(stream, t::kServerOffset + t::kNotifyLineState, t::kLineBreakDetect);
  const uint8_t data[] = {0x00, 0xFF, 0x41};
  t::appendData(stream, data, sizeof data);
  writeSeed("telnet_fuzz", "server", {6}, stream);
}

// Configuration files: one as the library saves the factory settings, and one
// with the reader's harder lines.
void iniSeeds() {
  vel::DeviceConfiguration record{};
  vel::ApplyFactoryDefaults(record);
  const std::string saved = vel::configfile::text(record, vel::configfile::HostValues{});
  writeSeed("ini_fuzz", "saved", {}, Bytes(saved.begin(), saved.end()));
  const std::string odd =
      "; comment\n[corvidconfig]\nWINDOWX = 10 ; inline\nGain=\"300\"\nThresholdBias=-129\n"
      "log2SubsamplingFactor=264\nstray line\n[HostConfig]\r\nImageSourceFolder='D:\\a;b\\'\r\n"
      "AutoSaveEnabled=''\nImageSourceFolder=.\\\n";
  writeSeed("ini_fuzz", "odd", {}, Bytes(odd.begin(), odd.end()));
}

// A host settings file with every kind of value, and port mappings of each form.
void settingsSeeds() {
  const std::string file = "AutoSaved=D:1\nAutoSaveFolder=S:/srv/images/\nSerialPort3=S:rfc2217://[::1]:2217\n";
  writeSeed("settings_fuzz", "host-settings", {0}, Bytes(file.begin(), file.end()));
  const std::string url = "rfc2217://device-server.local:4001";
  writeSeed("settings_fuzz", "port-map", {1}, Bytes(url.begin(), url.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR\n");
    return 2;
  }
  root = argv[1];
  responseSeeds();
  configurationSeeds();
  linkSeeds(sim::Framing::Packet, vel::LinkKind::Packet, "packet", 0);
  linkSeeds(sim::Framing::Direct, vel::LinkKind::Direct, "direct", 1);
  keycasterSeeds();
  telnetSeeds();
  iniSeeds();
  settingsSeeds();
  return 0;
}
