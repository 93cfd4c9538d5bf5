// A small JSON writer for the tool's --json output: objects, arrays,
// strings, integers, booleans and null, written compactly on one line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmx::tool {

class JsonOut {
 public:
  JsonOut& BeginObject();
  JsonOut& EndObject();
  JsonOut& BeginArray();
  JsonOut& EndArray();
  // The next value's name inside an object.
  JsonOut& Key(std::string_view name);
  JsonOut& String(std::string_view text);
  JsonOut& Int(std::int64_t value);
  JsonOut& Bool(bool value);
  JsonOut& Null();

  const std::string& Text() const { return text_; }

 private:
  void BeforeValue();
  std::string text_;
  // Per open object or array: whether it holds a value yet.
  std::vector<bool> filled_;
  bool afterKey_ = false;
};

// `text` as a JSON string with its quotes. Bytes that are not UTF-8 (file
// names may hold any) become U+FFFD, so the output always parses.
std::string JsonString(std::string_view text);

}  // namespace qmx::tool
