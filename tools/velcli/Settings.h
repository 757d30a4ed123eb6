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
};

// In name order.
const std::vector<Setting>& settings();
// By name, case ignored; null when there is none.
const Setting* findSetting(const std::string& name);

}  // namespace velcli
