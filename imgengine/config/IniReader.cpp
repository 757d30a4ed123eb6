#include "config/IniReader.h"

#include <climits>
#include <cstdint>
#include <cstdio>

namespace vel::ini {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

namespace {

std::string_view strip(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string entryName(std::string_view section, std::string_view key) {
  return lower(section) + ':' + lower(key);
}

// The value after "=" and its blanks: quoted text when the quotes hold at least
// one character (a missing closing quote ends it at the line end), else bare.
std::string valueOf(std::string_view rest) {
  if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
    const size_t close = rest.find(rest.front(), 1);
    const std::string_view quoted = rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    if (!quoted.empty()) return std::string(quoted);
  }
  const std::string_view bare = strip(rest.substr(0, rest.find_first_of(";#")));
  if (bare == "\"\"" || bare == "''") return std::string();
  return std::string(bare);
}

// Splits a byte stream into lines of at most kLineChars characters; a line is
// taken up to a NUL, as a C string would be.
class Lines {
 public:
  template <typename Take>
  void feed(const char* data, size_t length, Take take) {
    for (size_t i = 0; i < length; ++i) {
      const char c = data[i];
      if (c == '\n') {
        take(std::string_view(line_));
        line_.clear();
        ended_ = false;
      } else if (c == '\0') {
        ended_ = true;
      } else if (!ended_ && line_.size() < kLineChars) {
        line_ += c;
      }
    }
  }
  template <typename Take>
  void finish(Take take) {
    if (!line_.empty()) take(std::string_view(line_));
    line_.clear();
  }

 private:
  std::string line_;
  bool ended_ = false;
};

}  // namespace

int number(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kLimit = int64_t(INT_MAX) + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  }
  if (value > kLimit) value = kLimit;
  if (negative) return static_cast<int>(-value);
  return value >= kLimit ? INT_MAX : static_cast<int>(value);
}

bool Document::load(const char* path) {
  if (!path) return false;
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  Document read;
  Lines lines;
  auto take = [&read](std::string_view line) { read.parseLine(line); };
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) lines.feed(chunk, n, take);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return false;
  lines.finish(take);
  *this = std::move(read);
  return true;
}

void Document::parse(std::string_view text) {
  Lines lines;
  auto take = [this](std::string_view line) { parseLine(line); };
  lines.feed(text.data(), text.size(), take);
  lines.finish(take);
}

void Document::parseLine(std::string_view raw) {
  const std::string_view line = strip(raw);
  if (line.empty() || line.front() == ';' || line.front() == '#') return;
  if (line.front() == '[') {
    const size_t close = line.find(']');
    if (close != std::string_view::npos) section_ = lower(strip(line.substr(1, close - 1)));
    return;
  }
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = strip(line.substr(0, equals));
  if (key.empty()) return;
  entries_[section_ + ':' + lower(key)] = valueOf(strip(line.substr(equals + 1)));
}

const std::string* Document::find(std::string_view section, std::string_view key) const {
  const auto it = entries_.find(entryName(section, key));
  return it == entries_.end() ? nullptr : &it->second;
}

int Document::number(std::string_view section, std::string_view key, int fallback) const {
  const std::string* value = find(section, key);
  return value ? ini::number(*value) : fallback;
}

}  // namespace vel::ini
