// What a command reports: human lines on the standard output, or with --json one
// JSON document that gathers the same values and is written when the command ends.
#pragma once

#include <cstdint>
#include <string>
#include <list>
#include <utility>

namespace velcli {

// A JSON value: null, boolean, integer, string, array or object (members in the
// order they were added). Strings are written as UTF-8: one that is not well-formed
// UTF-8 (a firmware version, a path) has its stray bytes written as Latin-1 characters.
class Json {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Json() = default;
  static Json boolean(bool v);
  static Json number(long long v);
  static Json string(std::string v);
  static Json array();
  static Json object();

  // Object member by key, added (null) when missing; the value becomes an object.
  Json& operator[](const std::string& key);
  // Appends to an array (the value becomes one) and answers the new element.
  Json& push(Json value);
  Kind kind() const { return kind_; }
  std::string dump() const;

 private:
  void write(std::string& out) const;
  Kind kind_ = Kind::Null;
  bool bool_ = false;
  long long number_ = 0;
  std::string string_;
  // Lists: a reference to a member or an element stays valid while others are added.
  std::list<Json> items_;
  std::list<std::pair<std::string, Json>> members_;
};

// Bytes (barcode data) for a terminal: printable ASCII, everything else as \xNN.
std::string printable(const unsigned char* data, int length);

class Report {
 public:
  explicit Report(bool json) : json_(json) { root_ = Json::object(); }
  bool json() const { return json_; }
  // The document's top level; commands add their values here (or to members of it).
  Json& root() { return root_; }

  // One labelled line in text mode ("label:" padded to a column); in JSON the value
  // under key in target (the top level unless given).
  void put(const char* key, const char* label, long long value, const std::string& shown = "");
  void put(const char* key, const char* label, const std::string& value);
  void put(Json& target, const char* key, const char* label, long long value, const std::string& shown = "");
  void put(Json& target, const char* key, const char* label, const std::string& value);
  // A line in text mode only (the JSON document carries the value elsewhere);
  // with a label, "label:" padded to the column of put's lines.
  void say(const std::string& line);
  void say(const std::string& label, const std::string& text);
  // A failure: "velcli: why" on the standard error; in JSON also the document's "error".
  void fail(const std::string& why);

  // Ends the command: in JSON mode writes the document with "exitCode" (and "ok").
  int finish(int exitCode);

 private:
  bool json_;
  Json root_;
  std::string error_;
};

}  // namespace velcli
