// velcli's configuration files and service commands.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velcli {

// config save FILE | config load FILE: the imager's configuration (read at connect)
// written to FILE, or FILE loaded and stored permanently in the imager.
int runConfig(const std::vector<std::string>& args, const std::function<bool()>& connect);
// service NAME [ARGUMENTS]: one service command (list: serviceUsage()).
int runService(const std::vector<std::string>& args, const std::function<bool()>& connect);
const char* serviceUsage();

}  // namespace velcli
