#include "Settings.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "ImgEngine.h"

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
    if (setter && setter->set) found.push_back({e.name + 6, e.get, setter->set});
  }
  for (const auto& renamed : kRenamed) {
    const Export *getter = byName(renamed[1]), *setter = byName(renamed[2]);
    if (getter && getter->get && setter && setter->set) found.push_back({renamed[0], getter->get, setter->set});
  }
  std::sort(found.begin(), found.end(), [](const Setting& a, const Setting& b) { return a.name < b.name; });
  return found;
}

}  // namespace

const std::vector<Setting>& settings() {
  static const std::vector<Setting> table = pairUp();
  return table;
}

const Setting* findSetting(const std::string& name) {
  for (const Setting& s : settings()) {
    if (strcasecmp(s.name.c_str(), name.c_str()) == 0) return &s;
  }
  return nullptr;
}

}  // namespace velcli
