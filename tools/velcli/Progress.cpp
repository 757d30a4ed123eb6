#include "Progress.h"

#include <unistd.h>

namespace velcli {

const char* eventName(int code) {
  static const char* const kNames[] = {"none",          "done",           "aborted",
                                       "results",       "binary image",   "grey image",
                                       "results ready", "binary image ready", "grey image ready",
                                       "done with grey image"};
  return code >= 0 && code <= VEL_EVENT_TRIGGER_DONE_WITH_GREY_IMAGE ? kNames[code] : "unknown";
}

ProgressView::ProgressView(bool json) {
  const bool stdoutTerminal = !json && isatty(STDOUT_FILENO) != 0;
  terminal_ = stdoutTerminal || isatty(STDERR_FILENO) != 0;
  out_ = stdoutTerminal || (!terminal_ && !json) ? stdout : stderr;
}

void ProgressView::show(int status) {
  if (status == last_) return;
  last_ = status;
  const int code = (status >> 8) & 0xFF, percent = status & 0xFF;
  if (!terminal_) {
    // Piped: a line when the event changes or the percent passes a tenth.
    const int step = code * 1000 + percent / 10;
    if (step != lastLine_) std::fprintf(out_, "progress: %s %d%%\n", eventName(code), percent);
    lastLine_ = step;
    return;
  }
  constexpr int kWidth = 30;
  const int filled = percent > 100 ? kWidth : percent * kWidth / 100;
  std::fprintf(out_, "\r[%.*s%*s] %3d%% %-20s", filled, "##############################", kWidth - filled, "", percent,
               eventName(code));
  std::fflush(out_);
  drawn_ = true;
}

void ProgressView::finish() {
  if (drawn_) std::fputc('\n', out_);
  drawn_ = false;
  last_ = -1;
  lastLine_ = -1;
}

}  // namespace velcli
