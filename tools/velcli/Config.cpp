// config: the imager's configuration as the library keeps it. show, get and set
// read it from the imager at connect; set and defaults send the changed record
// back (temporarily, or with --permanent permanently); save and load are the
// library's configuration files.
#include <cstdio>
#include <filesystem>
#include <strings.h>

#include "Cli.h"
#include "Commands.h"
#include "ImgEngine.h"
#include "Settings.h"

namespace velcli {

namespace {

// Sends the host record to the imager; answers kOk or kCommunication.
int sendRecord(Context& c) {
  const bool permanent = c.options.permanent;
  const int sent = permanent ? VelSetPermanentDeviceConfiguration() : VelSetTemporaryDeviceConfiguration();
  c.report.root()["sent"] = Json::string(permanent ? "permanent" : "temporary");
  c.report.put("sendResult", permanent ? "sent permanently" : "sent temporarily", sent,
               sent == 1 ? "1 (the imager took it)" : std::to_string(sent) + " (failed)");
  if (sent == 1) return kOk;
  c.report.fail("the imager did not take the configuration");
  return kCommunication;
}

void reportSetting(Context& c, const Setting& s) {
  const int value = s.get();
  c.report.root()["settings"][s.name] = Json::number(value);
  if (!c.report.json()) std::printf("%-48s %d\n", s.name.c_str(), value);
}

int show(Context& c) {
  c.report.root()["settings"] = Json::object();
  for (const Setting& s : settings()) reportSetting(c, s);
  return kOk;
}

int get(Context& c, const std::vector<const Setting*>& wanted) {
  c.report.root()["settings"] = Json::object();
  for (const Setting* s : wanted) reportSetting(c, *s);
  return kOk;
}

// "on"/"off" and integers (0x.. hexadecimal, negative values for the signed ones).
bool settingValue(const std::string& text, int& value) {
  if (strcasecmp(text.c_str(), "on") == 0 || strcasecmp(text.c_str(), "off") == 0) {
    value = strcasecmp(text.c_str(), "on") == 0;
    return true;
  }
  return parseNumber(text, -2147483647L - 1, 2147483647L, value);
}

int set(Context& c, const std::vector<std::pair<const Setting*, int>>& changes) {
  Json& list = c.report.root()["changed"] = Json::array();
  for (const auto& [s, value] : changes) {
    s->set(value);
    const int stored = s->get();
    Json& item = list.push(Json::object());
    item["name"] = Json::string(s->name), item["requested"] = Json::number(value),
    item["stored"] = Json::number(stored);
    c.report.say("set " + s->name + ": " + std::to_string(value) +
                 (stored == value ? "" : " (stored as " + std::to_string(stored) + ")"));
  }
  return sendRecord(c);
}

int defaults(Context& c) {
  VelSetFactoryDefaultConfiguration();
  c.report.say("factory defaults in the host record");
  return sendRecord(c);
}

// The library's answer does not tell a written file from one that was not
// created, so the file is looked at before and after.
int save(Context& c, const std::string& path) {
  std::error_code error;
  const auto before = std::filesystem::last_write_time(path, error);
  const bool existed = !error;
  const int result = VelSaveCurrentConfigurations(path.c_str());
  const auto after = std::filesystem::last_write_time(path, error);
  const bool written = !error && (!existed || after != before) && std::filesystem::file_size(path, error) > 0;
  Json& r = c.report.root();
  r["file"] = Json::string(path), r["result"] = Json::number(result), r["written"] = Json::boolean(written);
  c.report.say("save " + path + ":  " + std::to_string(result) + (written ? " (written)" : " (not written)"));
  if (written) return kOk;
  c.report.fail("could not write " + path);
  return kFileError;
}

int load(Context& c, const std::string& path) {
  const int result = VelLoadAndDeployConfigurations(path.c_str());
  const int status = VelGetCommunicationStatus();
  Json& r = c.report.root();
  r["file"] = Json::string(path), r["result"] = Json::number(result), r["stored"] = Json::boolean(status == 1);
  c.report.say("load " + path + ":  " + std::to_string(result) + (result == 1 ? " (read)" : " (not read)") +
               ", imager " + (status == 1 ? "stored it" : "did not answer"));
  if (result != 1) {
    c.report.fail("could not read " + path);
    return kFileError;
  }
  return linkStatus(c, "config load");
}

}  // namespace

int runConfig(Context& c) {
  const std::vector<std::string>& a = c.options.arguments;
  const std::string what = a.empty() ? "" : a[0];
  // Everything is checked before connecting.
  std::vector<const Setting*> wanted;
  std::vector<std::pair<const Setting*, int>> changes;
  bool usable = what == "show" || what == "defaults" ? a.size() == 1
                : what == "save" || what == "load"   ? a.size() == 2
                : what == "get"                      ? a.size() >= 2
                : what == "set"                      ? a.size() >= 3 && a.size() % 2 == 1
                                                     : false;
  for (size_t i = 1; usable && (what == "get" || what == "set") && i < a.size(); i += what == "set" ? 2 : 1) {
    const Setting* s = findSetting(a[i]);
    int value = 0;
    if (!s) {
      c.report.fail("no setting " + a[i] + " (velcli config show lists them)");
      return kUsage;
    }
    if (what == "set" && !settingValue(a[i + 1], value)) {
      c.report.fail("not a value for " + s->name + ": " + a[i + 1]);
      return kUsage;
    }
    if (what == "get") wanted.push_back(s);
    if (what == "set") changes.emplace_back(s, value);
  }
  if (!usable) {
    c.report.fail(
        "usage: velcli config show|get NAME...|set NAME VALUE...|defaults|save FILE|load FILE (velcli config --help)");
    return kUsage;
  }
  if (!connectImager(c)) return kConnectFailed;
  int result = what == "show"       ? show(c)
               : what == "get"      ? get(c, wanted)
               : what == "set"      ? set(c, changes)
               : what == "defaults" ? defaults(c)
               : what == "save"     ? save(c, a[1])
                                    : load(c, a[1]);
  disconnectImager(c);
  return result;
}

}  // namespace velcli
