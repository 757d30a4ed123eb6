// Progress of an operation as the library reports it (event code and percent):
// a bar redrawn in place on a terminal; when piped, a line per event and per tenth.
#pragma once

#include <cstdio>

#include "ImgEngine.h"

namespace velcli {

// Names of the library's VEL_EVENT_* codes.
const char* eventName(int code);
// Done, Aborted or the trigger's done-with-grey-image: the run is over.
inline bool endsRun(int code) {
  return code == VEL_EVENT_DONE || code == VEL_EVENT_ABORTED || code == VEL_EVENT_TRIGGER_DONE_WITH_GREY_IMAGE;
}

class ProgressView {
 public:
  // A bar wherever a terminal is: the standard output, else the standard error;
  // without one, plain lines on the standard output (the standard error with
  // --json, whose standard output carries the document only).
  explicit ProgressView(bool json);
  // One status word: event code in the high byte, percent in the low byte.
  void show(int status);
  void finish();  // ends a bar's line

 private:
  std::FILE* out_ = stdout;
  bool terminal_ = false;
  int last_ = -1;
  int lastLine_ = -1;
  bool drawn_ = false;
};

}  // namespace velcli
