// The Startup-folder shortcut that starts the wedge at logon.
#pragma once

#include <windows.h>

namespace keycaster {

HRESULT CreateShortcut(const char* targetPath, const char* description, const char* linkPath,
                       const char* workingDirectory);
void ApplyAutorun(bool autoRun);

}  // namespace keycaster
