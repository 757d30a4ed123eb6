#include "Conversation.h"

#include <algorithm>
#include <memory>

namespace trace {

namespace {

constexpr uint64_t kMaxImageBytes = 3932160;  // the largest grey section an imager sends
constexpr uint32_t kLargestQuality = 100;     // grey size values up to this are JPEG qualities
constexpr size_t kFixedConfigurationBytes = 608;
constexpr uint8_t kEndTag = 0xFF;
constexpr uint8_t kEventOperation = 4;
constexpr size_t kShownDataBytes = 4096;

struct CommandInfo {
  int code;
  const char* name;
};
const CommandInfo kCommands[] = {
    {1, "GetConfiguration"},      {2, "SetTemporaryConfiguration"}, {3, "SetPermanentConfiguration"},
    {4, "Capture"},               {5, "GetVersions"},               {6, "CaptureGrey"},
    {8, "SetSensorRegister"},     {9, "GetSensorRegister"},         {13, "CheckLink"},
    {16, "PreviousBinaryImage"},  {17, "PreviousGreyImage"},        {18, "Close"},
    {19, "CalibrateBlackLevels"}, {20, "SetDefaultBlackLevels"},    {21, "GetCalibrationStatus"},
    {22, "SetTerminalModeOutput"}, {23, "SetIoPinConfiguration"},   {24, "GetIoPinValue"},
    {25, "SetIoPinValue"},        {26, "GetBlockSize"},             {27, "WindowedPreviousGreyImage"},
    {28, "SetTargetingLeds"},     {29, "FirmwareErase"},            {30, "TriggerStatus"},
    {31, "Sleep"},                {32, "ImageStandardDeviation"},
};

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
uint32_t le32(const uint8_t* p) { return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]; }

std::string printable(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '\\')
      s += static_cast<char>(p[i]);
    else
      s += "\\x" + hex(p[i], 2);
  }
  return s;
}

std::string hexBytes(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += hex(p[i], 2);
  return s;
}

// Reads one port stream in order, within one link epoch.
class Cursor {
 public:
  explicit Cursor(const PortStream& s) : s_(s) {}
  bool atEnd() const { return pos_ >= s_.bytes.size(); }
  uint64_t epoch() { return atEnd() ? UINT64_MAX : pieceAt(pos_).epoch; }
  uint64_t time() { return atEnd() ? last_ : pieceAt(pos_).timeUs; }
  uint64_t lastTime() const { return last_; }
  // n bytes of this epoch, or null (nothing taken) when fewer are there.
  const uint8_t* take(size_t n, uint64_t epoch) {
    if (n > s_.bytes.size() - pos_) return nullptr;
    if (n == 0) return s_.bytes.data() + pos_;
    if (pieceAt(pos_).epoch != epoch || pieceAt(pos_ + n - 1).epoch != epoch) return nullptr;
    const uint8_t* p = s_.bytes.data() + pos_;
    last_ = pieceAt(pos_ + n - 1).timeUs;
    pos_ += n;
    return p;
  }
  // Past every byte of epochs up to e.
  void leaveEpoch(uint64_t e) {
    while (!atEnd() && pieceAt(pos_).epoch <= e) {
      const size_t end = piece_ + 1 < s_.pieces.size() ? s_.pieces[piece_ + 1].offset : s_.bytes.size();
      pos_ = end;
    }
  }

 private:
  const PortStream::Piece& pieceAt(size_t offset) {
    // Pieces are looked up forward from the one last used (backwards only within a read).
    size_t k = piece_;
    while (k > 0 && s_.pieces[k].offset > offset) --k;
    while (k + 1 < s_.pieces.size() && s_.pieces[k + 1].offset <= offset) ++k;
    if (offset == pos_) piece_ = k;
    return s_.pieces[k];
  }
  const PortStream& s_;
  size_t pos_ = 0;
  size_t piece_ = 0;
  uint64_t last_ = 0;
};

// Stream fault: the trace ends or the link reset the ports in the middle of an exchange.
struct Cut {};

class Channel {
 public:
  Channel(Conversation& c, size_t interface, const PortStream& in, const PortStream& out)
      : c_(c), interface_(interface), in_(in), out_(out) {}

  Item& emit(uint64_t t, Direction d, const std::string& type) {
    c_.items.push_back(Item{});
    Item& i = c_.items.back();
    i.timeUs = t;
    i.interface = interface_;
    i.direction = d;
    i.type = type;
    return i;
  }
  const uint8_t* in(size_t n) { return keep(false, need(in_.take(n, epoch_)), n); }
  const uint8_t* out(size_t n) { return keep(true, need(out_.take(n, epoch_)), n); }
  // From now on the bytes taken also go into this exchange's steps (null: nowhere).
  void record(Exchange* exchange) { script_ = exchange; }
  uint8_t in8() { return *in(1); }
  uint16_t in16() { return le16(in(2)); }
  uint32_t in32() { return le32(in(4)); }
  uint8_t out8() { return *out(1); }

  // After a cut: both ports past the epoch of the exchange.
  void recover(const char* what) {
    emit(std::max(in_.lastTime(), out_.lastTime()), Direction::kNone, "cut").text =
        std::string(what) + " cut short: " +
        (in_.atEnd() && out_.atEnd() ? "the trace ends" : "the link reset its ports");
    in_.leaveEpoch(epoch_);
    out_.leaveEpoch(epoch_);
  }

  // The sections of a full operation response with these flags.
  void response(uint8_t flags) {
    const uint8_t status = in8();
    Item& head = emit(in_.lastTime(), Direction::kIn, "response");
    head.add("status", "0x" + hex(status, 2));
    head.text = "response status 0x" + hex(status, 2);
    if (status & 0x01) {
      const uint8_t* e = in(5);
      c_.items.back().add("gain", le16(e)).add("integration", le16(e + 2)).add("illumination", e[4]);
      c_.items.back().text += " gain " + std::to_string(le16(e)) + " integration " + std::to_string(le16(e + 2)) +
                              " illumination " + std::to_string(e[4]);
    }
    const bool compressed = (status & 0x90) != 0;
    uint16_t width = 0, height = 0;
    if (flags & 0x06) {
      width = in16();
      height = in16();
      c_.items.back().add("width", width).add("height", height);
      c_.items.back().text += " image " + std::to_string(width) + "x" + std::to_string(height);
    }
    if ((flags & 0x01) && !results()) return;
    if ((flags & 0x02) && !binary(width, height)) return;
    if (flags & 0x04) {
      const uint32_t size = compressed ? in32() : uint32_t{width} * height;
      if (!grey(width, height, compressed, size)) return;
    }
    if (flags & 0x08) results();
  }

  // False when the host stopped it (an acknowledgement of 0).
  bool results() {
    int barcodes = 0;
    const uint64_t start = in_.time();
    for (;;) {
      const uint8_t* head = in(2);
      const uint8_t kind = head[0];
      if (head[1] == 255) in(4);
      if (kind == 1) {
        const uint8_t* t = in(16);
        const uint8_t ack = out8();
        Item& i = emit(in_.lastTime(), Direction::kIn, "results");
        i.add("barcodes", barcodes).add("captureTicks", le32(t + 8) - le32(t)).add("ack", ack);
        i.text = "results: " + std::to_string(barcodes) + " barcode(s), timings, ack " + std::to_string(ack);
        (void)start;
        return true;
      }
      if (kind == 2) {
        const uint8_t type = in8();
        const uint8_t flags = in8();
        const uint8_t* corners = in(16);
        in(4);
        const uint16_t length = in16();
        const uint8_t* data = in(length);
        const uint8_t ack = out8();
        ++barcodes;
        const size_t shown = std::min<size_t>(length, kShownDataBytes);
        Item& i = emit(in_.lastTime(), Direction::kIn, "barcode");
        i.add("barcodeType", type).add("configuration", (flags & 1) ? "yes" : "no").add("length", length)
            .add("data", printable(data, shown)).add("hex", hexBytes(data, shown));
        std::string at;
        for (int k = 0; k < 8; ++k) at += (k ? "," : "") + std::to_string(static_cast<int16_t>(le16(corners + 2 * k)));
        i.add("corners", at).add("ack", ack);
        i.text = "barcode type " + std::to_string(type) + " \"" + printable(data, shown) + "\" (" +
                 std::to_string(length) + " bytes) corners " + at + (flags & 1 ? " configuration" : "") +
                 ", ack " + std::to_string(ack);
        if (ack == 0) return false;
        continue;
      }
      // Another record kind carries nothing the host reads; it acknowledges it.
      const uint8_t ack = out8();
      emit(in_.lastTime(), Direction::kIn, "record").add("kind", kind).add("ack", ack).text =
          "result record kind " + std::to_string(kind) + ", ack " + std::to_string(ack);
      if (ack == 0) return false;
    }
  }

  void imageItem(const char* kind, uint16_t w, uint16_t h, uint64_t bytes, int blocks, int goOn, int stop) {
    Item& i = emit(std::max(in_.lastTime(), out_.lastTime()), Direction::kIn, "image");
    i.add("kind", kind).add("width", w).add("height", h).add("bytes", static_cast<long long>(bytes))
        .add("blocks", blocks).add("acks", goOn).add("stops", stop);
    i.text = std::string(kind) + " image " + std::to_string(w) + "x" + std::to_string(h) + ", " +
             std::to_string(bytes) + " bytes in " + std::to_string(blocks) + " block(s), " + std::to_string(goOn) +
             " ack(s) to go on" + (stop ? ", " + std::to_string(stop) + " to stop" : "");
  }

  bool binary(uint16_t width, uint16_t height) {
    if (blockSize_ <= 0) return fail("binary image without a block size");
    in8();  // the first run's colour
    uint64_t remaining = uint64_t{width} * height, bytes = 0;
    uint32_t unacknowledged = 0;
    int blocks = 0, goOn = 0, stop = 0;
    while (remaining > 0) {
      const uint32_t length = in32();
      if (length > static_cast<uint32_t>(blockSize_)) return fail("binary block longer than the block size");
      const uint8_t* runs = in(length);
      ++blocks;
      bytes += length;
      for (uint32_t k = 0; k < length && remaining > 0; ++k) {
        const uint32_t run = runs[k] < 254 ? runs[k] + 1u : 255u;
        remaining = run > remaining ? 0 : remaining - run;
      }
      unacknowledged += length;
      if (unacknowledged < static_cast<uint32_t>(blockSize_)) continue;
      unacknowledged = 0;
      if (out8()) {
        ++goOn;
      } else {
        imageItem("binary", width, height, bytes, blocks, goOn, 1);
        return false;
      }
    }
    if (unacknowledged > 0) (out8() ? goOn : stop)++;
    imageItem("binary", width, height, bytes, blocks, goOn, stop);
    return stop == 0;
  }

  bool greyPieces(uint32_t length, uint64_t& bytes, int& blocks, int& goOn) {
    for (uint32_t at = 0; at < length;) {
      const uint32_t piece = std::min(length - at, static_cast<uint32_t>(blockSize_));
      in(piece);
      at += piece;
      bytes += piece;
      ++blocks;
      if (!out8()) return false;
      ++goOn;
    }
    return true;
  }

  bool grey(uint16_t width, uint16_t height, bool compressed, uint32_t size) {
    if (blockSize_ <= 0) return fail("grey image without a block size");
    if (size > kMaxImageBytes) return fail("grey image size beyond any buffer");
    const char* kind = compressed ? "compressed grey" : "grey";
    uint64_t bytes = 0;
    int blocks = 0, goOn = 0;
    bool whole = true;
    if (size > kLargestQuality) {
      whole = greyPieces(size, bytes, blocks, goOn);
    } else {
      for (;;) {
        const uint32_t length = in32();
        if (length == 0) break;
        if (length > kMaxImageBytes) return fail("grey piece beyond any buffer");
        if (!(whole = greyPieces(length, bytes, blocks, goOn))) break;
      }
    }
    imageItem(kind, width, height, bytes, blocks, goOn, whole ? 0 : 1);
    return whole;
  }

  bool fail(const std::string& why) {
    emit(in_.lastTime(), Direction::kIn, "lost").text = why + ": the rest of the exchange cannot be read";
    throw Cut{};
  }

  Cursor& inCursor() { return in_; }
  Cursor& outCursor() { return out_; }
  void setEpoch(uint64_t e) { epoch_ = e; }
  int32_t blockSize_ = 0;
  bool fixedConfiguration_ = false;

 private:
  const uint8_t* need(const uint8_t* p) {
    if (!p) throw Cut{};
    return p;
  }
  const uint8_t* keep(bool host, const uint8_t* p, size_t n) {
    if (script_ && n > 0) {
      if (script_->steps.empty() || script_->steps.back().host != host) script_->steps.push_back({host, {}});
      script_->steps.back().bytes.insert(script_->steps.back().bytes.end(), p, p + n);
    }
    return p;
  }
  Exchange* script_ = nullptr;
  Conversation& c_;
  size_t interface_;
  Cursor in_;
  Cursor out_;
  uint64_t epoch_ = 0;
};

void answerItem(Channel& ch, Cursor& in, const std::string& text, long long value, bool withValue) {
  Item& i = ch.emit(in.lastTime(), Direction::kIn, "answer");
  if (withValue) i.add("value", value);
  i.text = text;
}

void configurationBody(Channel& ch, bool outbound, bool fixed, Item& command) {
  auto take = [&](size_t n) { return outbound ? ch.out(n) : ch.in(n); };
  if (fixed) {
    const uint16_t length = le16(take(2));
    if (length != kFixedConfigurationBytes) ch.fail("configuration block of " + std::to_string(length) + " bytes");
    take(length);
    command.add("form", "fixed");
    return;
  }
  int tags = 0;
  for (;;) {
    const uint8_t tag = *take(1);
    if (tag == kEndTag) break;
    take(le16(take(2)));
    ++tags;
  }
  command.add("tags", tags);
}

// Commands on the command channel, each with what it sends and its answer.
void commandChannel(Conversation& c, size_t interface, const LinkDecoder& link, bool keep) {
  Channel ch(c, interface, link.stream(Direction::kIn, 0), link.stream(Direction::kOut, 1));
  Cursor& out = ch.outCursor();
  Cursor& in = ch.inCursor();
  while (!out.atEnd()) {
    ch.setEpoch(out.epoch());
    const uint64_t start = out.time();
    const uint64_t epoch = out.epoch();
    std::string name = "?";
    Exchange exchange;
    exchange.interface = interface;
    exchange.timeUs = start;
    ch.record(keep ? &exchange : nullptr);
    size_t at = SIZE_MAX;
    try {
      const uint8_t code = ch.out8();
      exchange.code = code;
      name = commandName(code);
      c.items.push_back(Item{});
      at = c.items.size() - 1;
      auto cmd = [&]() -> Item& { return c.items[at]; };
      cmd().timeUs = start;
      cmd().interface = interface;
      cmd().direction = Direction::kOut;
      cmd().type = "command";
      cmd().add("code", code).add("name", name);
      cmd().text = name + " (" + std::to_string(code) + ")";
      bool answered = true;
      auto outFields = [&](size_t n) {
        const uint8_t* f = ch.out(n);
        cmd().add("fields", hexBytes(f, n));
        cmd().text += " " + hexBytes(f, n);
      };
      switch (code) {
        case 26: {
          const uint32_t size = ch.in32();
          ch.blockSize_ = static_cast<int32_t>(size);
          answerItem(ch, in, "block size " + std::to_string(size), size, true);
          break;
        }
        case 13: {
          outFields(4);
          const uint32_t level = ch.in32();
          const uint8_t flag = ch.in8();
          ch.fixedConfiguration_ = level == 17;
          answerItem(ch, in, "link level " + std::to_string(level) + " flag " + std::to_string(flag), level, true);
          break;
        }
        case 5: {
          const uint8_t* v = ch.in(16);
          const uint8_t length = ch.in8();
          const uint8_t* text = ch.in(length);
          Item& i = ch.emit(in.lastTime(), Direction::kIn, "answer");
          i.add("processor", le32(v)).add("sensor", "0x" + hex(le32(v + 4), 2)).add("illumination", le32(v + 8))
              .add("firmware", printable(text, length));
          i.text = "processor " + std::to_string(le32(v)) + " sensor 0x" + hex(le32(v + 4), 2) + " illumination " +
                   std::to_string(le32(v + 8)) + " firmware \"" + printable(text, length) + "\"";
          break;
        }
        case 1: {
          Item tmp;
          configurationBody(ch, false, ch.fixedConfiguration_, tmp);
          Item& i = ch.emit(in.lastTime(), Direction::kIn, "answer");
          i.fields = tmp.fields;
          i.text = ch.fixedConfiguration_ ? "configuration (fixed block)"
                                          : "configuration, " + tmp.fields.back().text + " tags";
          break;
        }
        case 2:
        case 3: {
          Item tmp;
          configurationBody(ch, true, ch.fixedConfiguration_, tmp);
          for (const Field& f : tmp.fields) cmd().fields.push_back(f);
          cmd().text += ch.fixedConfiguration_ ? " fixed block" : " " + tmp.fields.back().text + " tags";
          answered = false;
          break;
        }
        case 4: {
          const uint8_t flags = ch.out8();
          cmd().add("flags", "0x" + hex(flags, 2));
          cmd().text += " flags 0x" + hex(flags, 2);
          ch.response(flags);
          break;
        }
        case 6: ch.response(0x04); break;
        case 16: {
          const uint16_t w = ch.in16(), h = ch.in16();
          ch.binary(w, h);
          break;
        }
        case 27: outFields(9); [[fallthrough]];
        case 17: {
          // The host's previous-grey request does not say on the wire whether it takes a
          // compressed image: read as uncompressed.
          const uint16_t w = ch.in16(), h = ch.in16();
          ch.grey(w, h, false, uint32_t{w} * h);
          break;
        }
        case 9: case 24: {
          outFields(1);
          const uint8_t v = ch.in8();
          answerItem(ch, in, "value " + std::to_string(v), v, true);
          break;
        }
        case 21: {
          const uint8_t v = ch.in8();
          answerItem(ch, in, "calibration status " + std::to_string(v), v, true);
          break;
        }
        case 32: {
          const int32_t v = static_cast<int32_t>(ch.in32());
          answerItem(ch, in, "standard deviation " + std::to_string(v), v, true);
          break;
        }
        case 8: case 23: case 25: outFields(2); answered = false; break;
        case 19: case 20: case 28: case 30: outFields(1); answered = false; break;
        case 18: case 22: case 29: case 31: answered = false; break;
        default:
          ch.fail("unknown command code " + std::to_string(code));
      }
      CommandStats& st = c.commands[name];
      ++st.count;
      if (answered) st.latenciesUs.push_back(in.lastTime() >= start ? in.lastTime() - start : 0);
      exchange.complete = true;
    } catch (const Cut&) {
      if (name != "?") ++c.commands[name].count;
      ch.recover(name == "?" ? "command" : name.c_str());
      if (out.epoch() == epoch && !out.atEnd()) out.leaveEpoch(epoch);
    }
    ch.record(nullptr);
    if (keep && at != SIZE_MAX) {
      exchange.text = c.items[at].text;
      c.exchanges.push_back(std::move(exchange));
    }
  }
}

// Trigger transfers on the event channel.
void eventChannel(Conversation& c, size_t interface, const LinkDecoder& link, bool keep) {
  Channel ch(c, interface, link.stream(Direction::kIn, 2), link.stream(Direction::kOut, 3));
  ch.blockSize_ = 0;
  Cursor& in = ch.inCursor();
  // The block size is the command channel's answer; look it up among the answers so far.
  for (const Item& i : c.items)
    if (i.interface == interface && i.type == "answer" && i.text.rfind("block size ", 0) == 0 && !i.fields.empty())
      ch.blockSize_ = static_cast<int32_t>(i.fields[0].number);
  while (!in.atEnd()) {
    ch.setEpoch(in.epoch());
    const uint64_t epoch = in.epoch();
    Exchange exchange;
    exchange.interface = interface;
    exchange.trigger = true;
    exchange.timeUs = in.time();
    ch.record(keep ? &exchange : nullptr);
    try {
      const uint8_t type = ch.in8();
      exchange.code = type;
      if (type != kEventOperation) {
        exchange.text = "event message type " + std::to_string(type);
        ch.emit(in.lastTime(), Direction::kIn, "event").add("type", type).text = exchange.text + " (skipped)";
      } else {
        const uint8_t flags = ch.in8();
        exchange.text = "trigger transfer flags 0x" + hex(flags, 2);
        ch.emit(in.lastTime(), Direction::kIn, "trigger").add("flags", "0x" + hex(flags, 2)).text = exchange.text;
        ch.response(flags);
      }
      exchange.complete = true;
    } catch (const Cut&) {
      ch.recover("trigger transfer");
      if (in.epoch() == epoch && !in.atEnd()) in.leaveEpoch(epoch);
    }
    ch.record(nullptr);
    if (keep && !exchange.steps.empty()) c.exchanges.push_back(std::move(exchange));
  }
}

std::string lineText(uint32_t bits) {
  static const char* names[] = {"break set", "break cleared", "CTS changed", "DSR changed",
                                "line error", "CTS on",       "DSR on"};
  std::string s;
  for (int b = 0; b < 7; ++b)
    if (bits & (1u << b)) s += (s.empty() ? "" : ", ") + std::string(names[b]);
  return s.empty() ? "no change" : s;
}

std::string text(const std::vector<uint8_t>& p) { return printable(p.data(), std::min<size_t>(p.size(), 4096)); }

}  // namespace

const char* commandName(int code) {
  for (const CommandInfo& c : kCommands)
    if (c.code == code) return c.name;
  return "Unknown";
}

uint64_t percentile(const std::vector<uint64_t>& sorted, int p) {
  if (sorted.empty()) return 0;
  size_t rank = (sorted.size() * static_cast<size_t>(p) + 99) / 100;
  if (rank == 0) rank = 1;
  return sorted[std::min(rank, sorted.size()) - 1];
}

Conversation readConversation(const uint8_t* data, size_t size, bool withExchanges) {
  Conversation c;
  PcapngReader reader(data, size);
  std::vector<std::unique_ptr<LinkDecoder>> links;
  Record r;
  uint64_t lastTime = 0;
  while (reader.next(r)) {
    ++c.records;
    lastTime = r.timeUs;
    while (links.size() < reader.interfaces().size()) {
      const std::string& name = reader.interfaces()[links.size()].name;
      const Framing f = name.rfind("usb", 0) == 0 ? Framing::kDirect : Framing::kPacket;
      links.push_back(std::make_unique<LinkDecoder>(f, links.size(), c.items));
    }
    LinkDecoder& link = *links[r.interface];
    auto item = [&](const std::string& type) -> Item& {
      c.items.push_back(Item{});
      Item& i = c.items.back();
      i.timeUs = r.timeUs;
      i.interface = r.interface;
      i.direction = r.direction;
      i.type = type;
      return i;
    };
    switch (static_cast<RecordKind>(r.kind)) {
      case RecordKind::kData: link.data(r.timeUs, r.direction, r.payload.data(), r.payload.size()); break;
      case RecordKind::kLineEvent:
        link.lineEvent(r.timeUs, r.detail);
        item("line").add("bits", r.detail).text = "line: " + lineText(r.detail);
        break;
      case RecordKind::kSettings:
        item("settings").add("baud", r.detail).add("text", text(r.payload)).text = "settings " + text(r.payload);
        break;
      case RecordKind::kOpen:
      case RecordKind::kClose:
        link.restart(r.timeUs);
        item(r.kind == 4 ? "open" : "close").add("text", text(r.payload)).text =
            std::string(r.kind == 4 ? "port opened" : "port closed") + (r.payload.empty() ? "" : ": " + text(r.payload));
        break;
      case RecordKind::kApiCall: item("api").add("text", text(r.payload)).text = "API " + text(r.payload); break;
      case RecordKind::kNotification:
        item("notification").add("text", text(r.payload)).text = "notification " + text(r.payload);
        break;
      case RecordKind::kNote: item("note").add("text", text(r.payload)).text = "note: " + text(r.payload); break;
      default: item("unknown").add("kind", r.kind).text = "record of unknown kind " + std::to_string(r.kind);
    }
  }
  c.error = reader.error();
  c.interfaces = reader.interfaces();
  for (auto& link : links) {
    link->finish(lastTime);
    commandChannel(c, static_cast<size_t>(&link - &links[0]), *link, withExchanges);
    eventChannel(c, static_cast<size_t>(&link - &links[0]), *link, withExchanges);
    for (const CounterField& f : kCounterFields) c.counters.*f.member += link->counters().*f.member;
  }
  std::stable_sort(c.items.begin(), c.items.end(), [](const Item& a, const Item& b) { return a.timeUs < b.timeUs; });
  std::stable_sort(c.exchanges.begin(), c.exchanges.end(),
                   [](const Exchange& a, const Exchange& b) { return a.timeUs < b.timeUs; });
  for (const Item& i : c.items)
    if (i.type == "command") c.commandOrder.push_back(i.fields[1].text);
  for (auto& [name, st] : c.commands) std::sort(st.latenciesUs.begin(), st.latenciesUs.end());
  return c;
}

}  // namespace trace
