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

struct Conversation {
  std::vector<Interface> interfaces;
  std::vector<Item> items;  // in time order (stable for equal times)
  LinkCounters counters;    // summed over the connections
  std::map<std::string, CommandStats> commands;
  std::vector<std::string> commandOrder;  // names as sent, in order
  uint64_t records = 0;
  std::string error;  // the reader's, when the file is damaged (what came before is kept)
};

// Reads and decodes a whole file held in memory.
Conversation readConversation(const uint8_t* data, size_t size);

// Percentile (0..100) of sorted values, nearest rank; 0 for none.
uint64_t percentile(const std::vector<uint64_t>& sorted, int p);

}  // namespace trace
