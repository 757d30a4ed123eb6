#include "Settings.h"

#include <algorithm>
#include <limits>
#include <cstring>
#include <strings.h>

#include "ImgEngine.h"
#include "api/SettingsFamilies.h"
#include "config/DeviceConfiguration.h"

namespace velcli {

namespace {

using Getter = int(VEL_API*)();
using Setter = int(VEL_API*)(int);

// An export of the table as a getter or a setter of one integer, or null.
template <typename F>
constexpr Getter asGetter(F) {
  return nullptr;
}
constexpr Getter asGetter(Getter f) { return f; }
template <typename F>
constexpr Setter asSetter(F) {
  return nullptr;
}
constexpr Setter asSetter(Setter f) { return f; }

struct Export {
  const char* name;
  Getter get;
  Setter set;
};

// Every export (aliases are second names of the same functions and left out).
const Export kExports[] = {
#define VEL_FN(ordinal, naming, ret, name, bytes, params) {#name, asGetter(&name), asSetter(&name)},
#define VEL_ALIAS(ordinal, naming, ret, name, bytes, params, target)
#include "ImgEngineExports.h"
#undef VEL_FN
#undef VEL_ALIAS
};

// Pairs whose getter and setter are named differently: setting, getter, setter.
const char* const kRenamed[][3] = {
    {"ImageCorrectionGaussWidth", "VelGetImageCorrectionGaussWidth", "VelSetGaussCorrectionWidth"},
    {"ImageCorrectionGaussFlatArea", "VelGetImageCorrectionGaussFlatArea", "VelSetGaussCorrectionFlatArea"},
};

// What the library's families say about a getter: group, switch, range.
struct Kind {
  const char* getter;
  const char* group;
  bool isSwitch;
  long low, high;
};

template <typename Field>
constexpr Kind valueKind(const char* getter) {
  return {getter, "Values", false, static_cast<long>(std::numeric_limits<Field>::min()),
          static_cast<long>(std::numeric_limits<Field>::max())};
}

#define VEL_VALUE_KIND(getter, setter, field) valueKind<decltype(vel::DeviceConfiguration::field)>(#getter),
#define VEL_OPTION_KIND(getter, setter, bit, rule) {#getter, "Options", true, 0, 1},
#define VEL_CORRECTION_KIND(getter, setter, bit, rule) {#getter, "Image correction", true, 0, 1},
#define VEL_HISTOGRAM_KIND(getter, setter, mode) {#getter, "Histogram mode", true, 0, 1},
#define VEL_SYMBOLOGY_KIND(getter, setter, bit) {#getter, "Symbologies", true, 0, 1},
#define VEL_ORDERING_KIND(getter, setter, bit) {#getter, "Result ordering", true, 0, 1},
const Kind kKinds[] = {
    VEL_VALUE_SETTINGS(VEL_VALUE_KIND)              //
    VEL_OPTION_SWITCHES(VEL_OPTION_KIND)            //
    VEL_CORRECTION_SWITCHES(VEL_CORRECTION_KIND)    //
    VEL_HISTOGRAM_MODES(VEL_HISTOGRAM_KIND)         //
    VEL_SYMBOLOGY_SWITCHES(VEL_SYMBOLOGY_KIND)      //
    VEL_ORDERING_SWITCHES(VEL_ORDERING_KIND)        //
    // Settings with rules of their own: the library adapts them to the imager.
    {"VelGetWindowX", "Window and exposure", false, 0, 65535},
    {"VelGetWindowWidth", "Window and exposure", false, 0, 65535},
    {"VelGetWindowHeight", "Window and exposure", false, 0, 65535},
    {"VelGetLog2SubsamplingFactor", "Window and exposure", false, 0, 255},
    {"VelGetImageRotationDegrees", "Window and exposure", false, 0, 270},
    {"VelGetImageSoftwareSubsamplingFactor", "Window and exposure", false, 1, 16},
    {"VelGetIntegrationTimeInMicroSeconds", "Window and exposure", false, 0, 10000000},
    {"VelGetMaximumAutoExposureIntegrationTimeInMicroSeconds", "Window and exposure", false, 0, 10000000},
    {"VelGetImageCorrectionSharpenImageWeight", "Values", false, 0, 255},
};
#undef VEL_VALUE_KIND
#undef VEL_OPTION_KIND
#undef VEL_CORRECTION_KIND
#undef VEL_HISTOGRAM_KIND
#undef VEL_SYMBOLOGY_KIND
#undef VEL_ORDERING_KIND

// Host-side settings outside the record's families; an "Enabled" one is a switch.
Kind kindOf(const char* getter) {
  for (const Kind& k : kKinds) {
    if (std::strcmp(k.getter, getter) == 0) return k;
  }
  const size_t n = std::strlen(getter);
  const bool enabled = n > 7 && std::strcmp(getter + n - 7, "Enabled") == 0;
  return {getter, "Host", enabled, enabled ? 0 : std::numeric_limits<int>::min(),
          enabled ? 1 : std::numeric_limits<int>::max()};
}

const Export* byName(const std::string& name) {
  for (const Export& e : kExports) {
    if (name == e.name) return &e;
  }
  return nullptr;
}

std::vector<Setting> pairUp() {
  std::vector<Setting> found;
  for (const Export& e : kExports) {
    if (!e.get || std::strncmp(e.name, "VelGet", 6) != 0) continue;
    const Export* setter = byName(std::string("VelSet") + (e.name + 6));
    if (!setter || !setter->set) continue;
    const Kind k = kindOf(e.name);
    found.push_back({e.name + 6, e.get, setter->set, k.group, k.isSwitch, k.low, k.high});
  }
  for (const auto& renamed : kRenamed) {
    const Export *getter = byName(renamed[1]), *setter = byName(renamed[2]);
    if (!getter || !getter->get || !setter || !setter->set) continue;
    const Kind k = kindOf(renamed[1]);
    found.push_back({renamed[0], getter->get, setter->set, k.group, k.isSwitch, k.low, k.high});
  }
  std::sort(found.begin(), found.end(), [](const Setting& a, const Setting& b) { return a.name < b.name; });
  return found;
}

}  // namespace

const std::vector<Setting>& settings() {
  static const std::vector<Setting> table = pairUp();
  return table;
}

const std::vector<const char*>& settingGroups() {
  static const std::vector<const char*> groups = {"Window and exposure", "Values", "Options", "Image correction",
                                                  "Histogram mode", "Symbologies", "Result ordering", "Host"};
  return groups;
}

const Setting* findSetting(const std::string& name) {
  for (const Setting& s : settings()) {
    if (strcasecmp(s.name.c_str(), name.c_str()) == 0) return &s;
  }
  return nullptr;
}

}  // namespace velcli
