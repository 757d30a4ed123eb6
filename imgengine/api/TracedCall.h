// The API events of field traces (base/trace/Recorder.h): an export that talks
// to the imager hands its result through traced(), which records
// "Name(arguments) -> result" (or "Name(arguments)" for a void export) when
// recording is on; off, it costs one flag test.
#pragma once

#include <string>

#include "base/trace/Recorder.h"

namespace vel::api {

inline void appendArguments(std::string &) {}
template <typename First, typename... Rest>
void appendArguments(std::string &text, First first, Rest... rest) {
  text += std::to_string(first);
  if (sizeof...(rest)) text += ", ";
  appendArguments(text, rest...);
}

template <typename... Args>
std::string callText(const char *name, Args... args) {
  std::string text = name;
  text += '(';
  appendArguments(text, args...);
  text += ')';
  return text;
}

template <typename Result, typename... Args>
Result traced(const char *name, Result result, Args... args) {
  if (trace::on()) trace::apiCall(callText(name, args...) + " -> " + std::to_string(result));
  return result;
}

template <typename... Args>
void tracedVoid(const char *name, Args... args) {
  if (trace::on()) trace::apiCall(callText(name, args...));
}

}  // namespace vel::api
