// A whole trace read into one time-ordered list of items: per connection the link
// framing (LinkDecoder), then the commands on the command channel (host port 1, its
// answers on port 0) by name with their short answers, the long responses as their
// sections (results with each barcode's type and data, image sections with kind,
// size and the acknowledgements of their blocks), the trigger transfers on the event
// channel (port 2, acknowledgements on port 3); besides them line events, settings,
// the port opening and closing, API calls, notifications and notes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "LinkDecoder.h"
#include "PcapngReader.h"

namespace trace {

const char* commandName(int code);

struct CommandStats {
  uint64_t count = 0;
  std::vector<uint64_t> latenciesUs;  // command sent to its answer's last byte
};

// One command, or one trigger transfer, as it went over its channel: the bytes each
// side wrote, in the order they had to go (a block before its acknowledgement), for
// a replay of the imager's side.
struct Exchange {
  struct Step {
    bool host;  // written by the host (the command and its acknowledgements), else by the imager
    std::vector<uint8_t> bytes;
  };
  size_t interface = 0;
  bool trigger = false;  // on the event channel
  int code = 0;          // the command code (4 for a trigger transfer)
  std::string text;      // the command as trace show prints it
  uint64_t timeUs = 0;   // when it began
  bool complete = false; // false: the trace ends or the link reset its ports in the middle
  std::vector<Step> steps;
};

struct Conversation {
  std::vector<Interface> interfaces;
  std::vector<Item> items;  // in time order (stable for equal times)
  LinkCounters counters;    // summed over the connections
  std::map<std::string, CommandStats> commands;
  std::vector<std::string> commandOrder;  // names as sent, in order
  uint64_t records = 0;
  std::string error;  // the reader's, when the file is damaged (what came before is kept)
  std::vector<Exchange> exchanges;  // in time order; only when asked for
};

// Reads and decodes a whole file held in memory; withExchanges also keeps the bytes
// of every command and trigger transfer.
Conversation readConversation(const uint8_t* data, size_t size, bool withExchanges = false);

// Percentile (0..100) of sorted values, nearest rank; 0 for none.
uint64_t percentile(const std::vector<uint64_t>& sorted, int p);

}  // namespace trace
