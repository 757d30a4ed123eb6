#include "Autorun.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

namespace keycaster {

namespace {

constexpr const char* kStartupLinkName = "keycaster.lnk";

bool startupFolder(std::string& folder) {
  char path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_STARTUP, FALSE)) return false;
  folder = path;
  return true;
}

}  // namespace

HRESULT CreateShortcut(const char* targetPath, const char* description, const char* linkPath,
                       const char* workingDirectory) {
  char fullPath[MAX_PATH];
  const DWORD n = GetFullPathNameA(targetPath, MAX_PATH, fullPath, nullptr);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;

  IShellLinkA* link = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link));
  if (FAILED(hr)) return hr;
  IPersistFile* file = nullptr;
  hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr)) hr = link->SetPath(fullPath);
  if (SUCCEEDED(hr)) hr = link->SetDescription(description);
  if (SUCCEEDED(hr)) hr = link->SetWorkingDirectory(workingDirectory);
  if (SUCCEEDED(hr)) {
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, MAX_PATH) == 0) {
      hr = E_FAIL;
    } else {
      hr = file->Save(wide, TRUE);
    }
  }
  if (file) file->Release();
  link->Release();
  return hr;
}

void ApplyAutorun(bool autoRun) {
  std::string startup;
  if (!autoRun) {
    if (startupFolder(startup)) DeleteFileA((startup + "\\" + kStartupLinkName).c_str());
    return;
  }
  const HRESULT init = CoInitialize(nullptr);
  // The program's own path from the module, not from the command line, which may be
  // unquoted or carry arguments.
  char module[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, module, MAX_PATH);
  if (n > 4 && n < MAX_PATH) {
    const std::string program(module, n);
    const std::string linkPath = program.substr(0, program.size() - 3) + "lnk";
    const size_t slash = program.find_last_of("\\/");
    const std::string directory = slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
    CreateShortcut(program.c_str(), "TORVIK KeyCaster Application", linkPath.c_str(), directory.c_str());
    if (startupFolder(startup)) {
      CopyFileA(linkPath.c_str(), (startup + "\\" + kStartupLinkName).c_str(), FALSE);
    }
  }
  if (SUCCEEDED(init)) CoUninitialize();
}

}  // namespace keycaster
