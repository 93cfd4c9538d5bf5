#include "cli/json_out.h"

#include <cstdio>

namespace qmx::tool {

namespace {

// Length of the well-formed UTF-8 sequence at text[at], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

void JsonOut::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!filled_.empty()) {
    if (filled_.back()) text_ += ',';
    filled_.back() = true;
  }
}

JsonOut& JsonOut::BeginObject() {
  BeforeValue();
  text_ += '{';
  filled_.push_back(false);
  return *this;
}

JsonOut& JsonOut::EndObject() {
  text_ += '}';
  filled_.pop_back();
  return *this;
}

JsonOut& JsonOut::BeginArray() {
  BeforeValue();
  text_ += '[';
  filled_.push_back(false);
  return *this;
}

JsonOut& JsonOut::EndArray() {
  text_ += ']';
  filled_.pop_back();
  return *this;
}

JsonOut& JsonOut::Key(std::string_view name) {
  BeforeValue();
  text_ += JsonString(name);
  text_ += ':';
  afterKey_ = true;
  return *this;
}

JsonOut& JsonOut::String(std::string_view text) {
  BeforeValue();
  text_ += JsonString(text);
  return *this;
}

JsonOut& JsonOut::Int(std::int64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

JsonOut& JsonOut::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonOut& JsonOut::Null() {
  BeforeValue();
  text_ += "null";
  return *this;
}

}  // namespace qmx::tool
