// Progress of an operation as the library reports it (event code and percent):
// a bar redrawn in place on a terminal, one line per change when piped.
#pragma once

#include <cstdio>

namespace velcli {

// The library's operation event codes.
enum Event : int {
  kDone = 1,
  kAborted = 2,
  kResultsProgress = 3,
  kBinaryImageProgress = 4,
  kGreyImageProgress = 5,
  kResultsReady = 6,
  kBinaryImageReady = 7,
  kGreyImageReady = 8,
  kTriggerDoneWithGreyImage = 9,
};

const char* eventName(int code);
// Done, Aborted or the trigger's done-with-grey-image: the run is over.
inline bool endsRun(int code) { return code == kDone || code == kAborted || code == kTriggerDoneWithGreyImage; }

class ProgressView {
 public:
  explicit ProgressView(std::FILE* out);
  // One status word: event code in the high byte, percent in the low byte.
  void show(int status);
  void finish();  // ends a bar's line

 private:
  std::FILE* out_;
  bool terminal_;
  int last_ = -1;
  bool drawn_ = false;
};

}  // namespace velcli
