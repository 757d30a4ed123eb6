#include "platform/LocalTime.h"

#include <windows.h>

namespace vel::platform {

LocalTime localTimeNow() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace vel::platform
