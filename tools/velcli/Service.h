// velcli's service commands: one table of names, arguments and calls.
#pragma once

namespace velcli {

// The list of service commands with their arguments, a line each.
const char* serviceUsage();

}  // namespace velcli
