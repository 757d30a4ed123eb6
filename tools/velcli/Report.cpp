#include "Report.h"

#include <cstdio>

#include "Text.h"

namespace velcli {

Json Json::boolean(bool v) {
  Json j;
  j.kind_ = Kind::Bool;
  j.bool_ = v;
  return j;
}

Json Json::number(long long v) {
  Json j;
  j.kind_ = Kind::Number;
  j.number_ = v;
  return j;
}

Json Json::string(std::string v) {
  Json j;
  j.kind_ = Kind::String;
  j.string_ = std::move(v);
  return j;
}

Json Json::array() {
  Json j;
  j.kind_ = Kind::Array;
  return j;
}

Json Json::object() {
  Json j;
  j.kind_ = Kind::Object;
  return j;
}

Json& Json::operator[](const std::string& key) {
  if (kind_ != Kind::Object) *this = object();
  for (auto& member : members_) {
    if (member.first == key) return member.second;
  }
  members_.emplace_back(key, Json());
  return members_.back().second;
}

Json& Json::push(Json value) {
  if (kind_ != Kind::Array) *this = array();
  items_.push_back(std::move(value));
  return items_.back();
}

namespace {

void writeString(const std::string& text, std::string& out) {
  out += '"';
  for (const char c : utf8OrLatin1(text)) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", u);
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

void Json::write(std::string& out) const {
  switch (kind_) {
    case Kind::Null: out += "null"; break;
    case Kind::Bool: out += bool_ ? "true" : "false"; break;
    case Kind::Number: out += std::to_string(number_); break;
    case Kind::String: writeString(string_, out); break;
    case Kind::Array:
      out += '[';
      for (const Json& item : items_) {
        if (&item != &items_.front()) out += ", ";
        item.write(out);
      }
      out += ']';
      break;
    case Kind::Object:
      out += '{';
      for (const auto& member : members_) {
        if (&member != &members_.front()) out += ", ";
        writeString(member.first, out);
        out += ": ";
        member.second.write(out);
      }
      out += '}';
      break;
  }
}

std::string Json::dump() const {
  std::string out;
  write(out);
  return out;
}

std::string printable(const unsigned char* data, int length) {
  std::string out;
  char hex[8];
  for (int i = 0; i < length; ++i) {
    if (data[i] >= 0x20 && data[i] < 0x7F && data[i] != '\\') {
      out += static_cast<char>(data[i]);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", data[i]);
      out += hex;
    }
  }
  return out;
}

void Report::put(const char* key, const char* label, long long value, const std::string& shown) {
  put(root_, key, label, value, shown);
}

void Report::put(const char* key, const char* label, const std::string& value) { put(root_, key, label, value); }

void Report::put(Json& target, const char* key, const char* label, long long value, const std::string& shown) {
  if (json_) {
    target[key] = Json::number(value);
  } else {
    std::printf("%-23s%s\n", (std::string(label) + ":").c_str(),
                shown.empty() ? std::to_string(value).c_str() : shown.c_str());
  }
}

void Report::put(Json& target, const char* key, const char* label, const std::string& value) {
  if (json_) {
    target[key] = Json::string(value);
  } else {
    std::printf("%-23s%s\n", (std::string(label) + ":").c_str(), value.c_str());
  }
}

void Report::say(const std::string& line) {
  if (!json_) std::printf("%s\n", line.c_str());
}

void Report::say(const std::string& label, const std::string& text) {
  if (!json_) std::printf("%-23s%s\n", (label + ":").c_str(), text.c_str());
}

void Report::fail(const std::string& why) {
  std::fprintf(stderr, "velcli: %s\n", why.c_str());
  if (error_.empty()) error_ = why;
}

int Report::finish(int exitCode) {
  if (json_) {
    root_["ok"] = Json::boolean(exitCode == 0);
    root_["exitCode"] = Json::number(exitCode);
    if (!error_.empty()) root_["error"] = Json::string(error_);
    std::printf("%s\n", root_.dump().c_str());
  }
  std::fflush(stdout);
  return exitCode;
}

}  // namespace velcli
