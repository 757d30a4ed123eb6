// Any bytes as a field trace through the pcapng reader, the link decoder and the
// conversation with the exchanges a replay plays: every length and count in the file
// is checked before it is used.
#include <cstddef>
#include <cstdint>

#include "Conversation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const trace::Conversation c = trace::readConversation(data, size, true);
  size_t total = 0;
  for (const trace::Item& i : c.items) total += i.text.size() + i.fields.size();
  for (const auto& [name, st] : c.commands) total += trace::percentile(st.latenciesUs, 99) & 1;
  for (const trace::Exchange& e : c.exchanges)
    for (const trace::Exchange::Step& step : e.steps) total += step.bytes.size() + step.host;
  return total == SIZE_MAX ? 1 : 0;
}
