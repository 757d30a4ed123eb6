#include "transport/Telnet.h"

namespace vel::telnet {

void appendData(std::vector<uint8_t>& out, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
  }
}

void appendNegotiation(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
  out.insert(out.end(), {kIac, verb, option});
}

void appendComCommand(std::vector<uint8_t>& out, uint8_t command, const uint8_t* payload, size_t length) {
  out.insert(out.end(), {kIac, kSb, kOptionComPort});
  appendData(out, &command, 1);
  appendData(out, payload, length);
  out.insert(out.end(), {kIac, kSe});
}

void Parser::endSubnegotiation(Handler& handler) {
  if (overflow_) {
    ++dropped_;
  } else {
    handler.subnegotiation(subOption_, sub_, subLength_);
  }
  state_ = State::kData;
}

void Parser::command(uint8_t b) {
  if (b >= kWill && b <= kDont) {
    verb_ = b;
    state_ = State::kOption;
  } else if (b == kSb) {
    state_ = State::kSubOption;
  } else {
    state_ = State::kData;  // a command without an option (NOP, GA, a stray SE, ...) means nothing here
  }
}

size_t Parser::feed(const uint8_t* in, size_t length, uint8_t* data, Handler& handler) {
  size_t out = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = in[i];
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kCommand;
        } else {
          data[out++] = b;
        }
        break;
      case State::kCommand:
        if (b == kIac) {
          data[out++] = b;
          state_ = State::kData;
        } else {
          command(b);
        }
        break;
      case State::kOption:
        state_ = State::kData;
        handler.negotiation(verb_, b);
        break;
      case State::kSubOption:
        subOption_ = b;
        subLength_ = 0;
        overflow_ = false;
        state_ = b == kIac ? State::kSubCommand : State::kSubData;
        break;
      case State::kSubData:
        if (b == kIac) {
          state_ = State::kSubCommand;
        } else if (subLength_ < kMaxSubnegotiation) {
          sub_[subLength_++] = b;
        } else {
          overflow_ = true;
        }
        break;
      case State::kSubCommand:
        if (b == kIac) {
          if (subLength_ < kMaxSubnegotiation) {
            sub_[subLength_++] = b;
          } else {
            overflow_ = true;
          }
          state_ = State::kSubData;
        } else if (b == kSe) {
          endSubnegotiation(handler);
        } else {
          // IAC and a command inside a subnegotiation: the subnegotiation was
          // never ended; it is dropped and the command read as one.
          ++dropped_;
          command(b);
        }
        break;
    }
  }
  return out;
}

}  // namespace vel::telnet
