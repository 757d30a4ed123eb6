// The settings velcli can show and change: every pair of getter and setter of one
// integer among the library's exports, taken from its export table.
#pragma once

#include <string>
#include <vector>

#include "ImgEngine.h"

namespace velcli {

struct Setting {
  std::string name;  // the export names without "VelGet" / "VelSet": "QRCodeEnabled"
  int(VEL_API* get)();
  int(VEL_API* set)(int);
  const char* group;  // the family the library defines it in, or what it is about
  bool isSwitch;      // 0 or 1
  long low, high;     // the values the field can hold; the library may adapt within them
};

// In name order.
const std::vector<Setting>& settings();
// The groups in the order a settings page shows them.
const std::vector<const char*>& settingGroups();
// By name, case ignored; null when there is none.
const Setting* findSetting(const std::string& name);

}  // namespace velcli
