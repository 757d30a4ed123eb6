// The API events of field traces (base/trace/Recorder.h): an export that talks
// to the imager hands its result through traced(), which records
// "Name(arguments) -> result" (or "Name(arguments)" for a void export) when
// recording is on; off, it costs one flag test.
#pragma once

#include <string>

#include "base/trace/Recorder.h"

namespace vel::api {

// A number as it is; a text quoted, at most kTextArgument characters of it.
constexpr size_t kTextArgument = 260;
template <typename Value>
void appendArgument(std::string &text, Value value) {
  text += std::to_string(value);
}
inline void appendArgument(std::string &text, const char *value) {
  if (!value) {
    text += "null";
    return;
  }
  text += '"';
  size_t n = 0;
  while (n < kTextArgument && value[n]) ++n;
  text.append(value, n);
  text += value[n] ? "...\"" : "\"";
}

inline void appendArguments(std::string &) {}
template <typename First, typename... Rest>
void appendArguments(std::string &text, First first, Rest... rest) {
  appendArgument(text, first);
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
