// The machine's local time of day, to the second.
#pragma once

namespace vel::platform {

struct LocalTime {
  int year;    // four digits
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59 (a leap second reads as 59)
};

LocalTime localTimeNow();

}  // namespace vel::platform
