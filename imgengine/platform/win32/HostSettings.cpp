// Host settings in the registry under HKEY_LOCAL_MACHINE\Software\Velmora. The
// key is opened, never created.
#include "platform/HostSettings.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace vel::platform {

namespace {
constexpr const char* kKey = "Software\\Velmora";

LONG openKey(REGSAM access, HKEY* key) { return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, access, key); }
}  // namespace

bool hostSettingsReadDword(const char* name, uint32_t* value) {
  HKEY key;
  if (openKey(KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD data = 0;
  DWORD size = sizeof data;
  const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return false;
  *value = data;
  return true;
}

int hostSettingsReadString(const char* name, char* buffer, size_t capacity) {
  HKEY key;
  if (openKey(KEY_READ, &key) != ERROR_SUCCESS) return -1;
  // One byte more than asked for, so that a text of full length that was stored
  // with its terminating NUL still fits.
  std::vector<char> data(capacity + 1);
  DWORD size = static_cast<DWORD>(data.size());
  const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || size > data.size()) return -1;
  if (size == data.size()) {
    if (data[size - 1] != '\0') return -1;
    --size;
  }
  std::memcpy(buffer, data.data(), size);
  return static_cast<int>(size);
}

int hostSettingsWriteDword(const char* name, uint32_t value) {
  HKEY key;
  const LONG rc = openKey(KEY_SET_VALUE, &key);
  if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
  const DWORD data = value;
  const LONG set = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  RegCloseKey(key);
  return static_cast<int>(set);
}

int hostSettingsWriteString(const char* name, const char* text, size_t length) {
  HKEY key;
  LONG rc = openKey(KEY_SET_VALUE, &key);
  if (rc != ERROR_SUCCESS) rc = openKey(KEY_SET_VALUE | KEY_CREATE_SUB_KEY, &key);
  if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
  const LONG set = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(length));
  RegCloseKey(key);
  return static_cast<int>(set);
}

}  // namespace vel::platform
