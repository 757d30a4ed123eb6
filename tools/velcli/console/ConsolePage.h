// The console's page, embedded in velcli at build time (console/page/console.html).
#pragma once

#include <cstddef>

namespace velcli::console {

const char* consolePage();
size_t consolePageSize();

}  // namespace velcli::console
