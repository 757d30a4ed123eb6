// The Telnet framing of a network serial port as a server may send it: data,
// doubled IACs, negotiations and com port subnegotiations, cut into pieces whose
// size the first byte chooses. The parser must never put out more data than it
// took in, nor report a subnegotiation longer than its cap.
#include <cstdlib>
#include <vector>

#include "FuzzCursor.h"
#include "transport/Telnet.h"

namespace {

class Checks : public vel::telnet::Parser::Handler {
 public:
  void negotiation(uint8_t, uint8_t) override {}
  void subnegotiation(uint8_t, const uint8_t* payload, size_t length) override {
    if (length > vel::telnet::Parser::kMaxSubnegotiation) std::abort();
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + payload[i]);  // every byte readable
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  const size_t piece = 1 + in.byte() % 64;
  vel::telnet::Parser parser;
  Checks checks;
  const uint8_t* rest = in.rest();
  const size_t restSize = in.restSize();
  for (size_t at = 0; at < restSize; at += piece) {
    const size_t n = restSize - at < piece ? restSize - at : piece;
    std::vector<uint8_t> out(n);
    if (parser.feed(rest + at, n, out.data(), checks) > n) std::abort();
  }
  return 0;
}
