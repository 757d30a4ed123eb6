// Runs an independent checker (exiftool, djpeg, identify, Python with PIL, zbarimg)
// and hands back its exit status and standard output.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace imagetest {

struct ToolResult {
  int status;
  std::string out;
};

inline ToolResult runTool(const std::string& command) {
  ToolResult r{-1, {}};
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return r;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) r.out.append(chunk, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == '\r')) r.out.pop_back();
  return r;
}

inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace imagetest
