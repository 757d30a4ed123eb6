// The imager's part of the console's state, built from what the library answered
// (a pure function, so that it is tested without an imager).
#pragma once

#include <nlohmann/json.hpp>

#include "../Cli.h"

namespace velcli::console {

// Connection, versions and kinds of the imager on port, every string from the imager or
// the library as UTF-8 (each byte its Latin-1 character). "usbReady" is null: the desk
// keeps it from the library's messages.
nlohmann::json stateJson(const ImagerFacts& facts, int port, bool simulated, int communicationStatus);

}  // namespace velcli::console
