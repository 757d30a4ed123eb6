// velcli trace show|stats FILE: a field trace (pcapng) read with the trace module.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "Commands.h"
#include "Conversation.h"
#include "Exit.h"
#include "Report.h"

namespace velcli {

namespace {

// Larger files are refused rather than read into memory.
constexpr std::streamoff kMaxTraceBytes = std::streamoff{1} << 31;

const char* directionName(trace::Direction d) {
  return d == trace::Direction::kIn ? "in" : d == trace::Direction::kOut ? "out" : "";
}
const char* arrow(trace::Direction d) {
  return d == trace::Direction::kIn ? "<-" : d == trace::Direction::kOut ? "->" : "  ";
}

std::string seconds(uint64_t us) {
  char b[32];
  std::snprintf(b, sizeof b, "%llu.%06llu", static_cast<unsigned long long>(us / 1000000),
                static_cast<unsigned long long>(us % 1000000));
  return b;
}

std::string milliseconds(uint64_t us) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3f", static_cast<double>(us) / 1000.0);
  return b;
}

void show(const trace::Conversation& c, bool json) {
  const uint64_t t0 = c.items.empty() ? 0 : c.items.front().timeUs;
  const bool several = c.interfaces.size() > 1;
  for (const trace::Item& i : c.items) {
    const std::string where = i.interface < c.interfaces.size() ? c.interfaces[i.interface].name : "?";
    if (json) {
      Json o = Json::object();
      o["t"] = Json::number(static_cast<long long>(i.timeUs));
      o["interface"] = Json::string(where);
      o["dir"] = Json::string(directionName(i.direction));
      o["type"] = Json::string(i.type);
      for (const trace::Field& f : i.fields) o[f.key] = f.isNumber ? Json::number(f.number) : Json::string(f.text);
      o["text"] = Json::string(i.text);
      std::printf("%s\n", o.dump().c_str());
    } else {
      std::printf("%12s %s%s%s %s\n", seconds(i.timeUs - t0).c_str(), several ? where.c_str() : "",
                  several ? " " : "", arrow(i.direction), i.text.c_str());
    }
  }
}

void stats(const trace::Conversation& c, Report& report) {
  const trace::LinkCounters& k = c.counters;
  Json& s = report.root()["stats"];
  for (const trace::CounterField& f : trace::kCounterFields)
    report.put(s, f.key, f.label, static_cast<long long>(k.*f.member));
  Json& commands = s["commands"];
  commands = Json::array();
  if (!report.json()) std::printf("%-28s %7s %12s %12s\n", "command", "count", "median ms", "p99 ms");
  for (const auto& [name, st] : c.commands) {
    Json& o = commands.push(Json::object());
    o["name"] = Json::string(name);
    o["count"] = Json::number(static_cast<long long>(st.count));
    o["answered"] = Json::number(static_cast<long long>(st.latenciesUs.size()));
    if (!st.latenciesUs.empty()) {
      o["medianUs"] = Json::number(static_cast<long long>(trace::percentile(st.latenciesUs, 50)));
      o["p99Us"] = Json::number(static_cast<long long>(trace::percentile(st.latenciesUs, 99)));
    }
    if (!report.json()) {
      const bool timed = !st.latenciesUs.empty();
      std::printf("%-28s %7llu %12s %12s\n", name.c_str(), static_cast<unsigned long long>(st.count),
                  timed ? milliseconds(trace::percentile(st.latenciesUs, 50)).c_str() : "-",
                  timed ? milliseconds(trace::percentile(st.latenciesUs, 99)).c_str() : "-");
    }
  }
}

}  // namespace

int runTrace(Context& c) {
  const std::vector<std::string>& a = c.options.arguments;
  if (a.size() != 2 || (a[0] != "show" && a[0] != "stats")) {
    c.report.fail("trace needs show FILE or stats FILE");
    return kUsage;
  }
  std::ifstream in(a[1], std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size < 0 || size > kMaxTraceBytes) {
    c.report.fail(size < 0 ? "cannot read " + a[1] : a[1] + " is larger than 2 GiB");
    return kFileError;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    c.report.fail("cannot read " + a[1]);
    return kFileError;
  }
  const trace::Conversation conversation = trace::readConversation(bytes.data(), bytes.size());
  if (a[0] == "show")
    show(conversation, c.report.json());
  else
    stats(conversation, c.report);
  c.report.root()["records"] = Json::number(static_cast<long long>(conversation.records));
  if (!conversation.error.empty()) {
    // What came before the damage has been shown; the damage is the command's failure.
    c.report.fail(a[1] + ": " + conversation.error);
    return kFileError;
  }
  return kOk;
}

}  // namespace velcli
