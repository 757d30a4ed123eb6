// The console's web page (console/page/console.html), compiled into velcli so that
// the installed program serves it without any file beside it.
#pragma once

#include <cstddef>

namespace velcli::console {

// The page's bytes (UTF-8 HTML), followed by a terminating zero that
// consolePageSize() does not count.
const char* consolePage();
size_t consolePageSize();

}  // namespace velcli::console
