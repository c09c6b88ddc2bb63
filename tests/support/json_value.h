#pragma once

// Just enough JSON for tests to read what a command printed: objects, arrays, strings with the
// escaped quotes and backslashes, numbers, true, false, null. Throws std::runtime_error on anything
// else.

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mvx::testing {

struct JsonValue {
  double number = 0;  // also 1 for true
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  const JsonValue& operator[](const std::string& key) const { return members.at(key); }
  const JsonValue& operator[](std::size_t i) const { return items.at(i); }
};

class JsonReader {
 public:
  static JsonValue Parse(std::string_view text) {
    JsonReader reader(text);
    JsonValue value = reader.Value();
    if (reader.Peek() != '\0') throw std::runtime_error("text after the value");
    return value;
  }

 private:
  explicit JsonReader(std::string_view text) : text_(text) {}
  char Peek() {
    while (at_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
      ++at_;
    return at_ < text_.size() ? text_[at_] : '\0';
  }
  bool Take(std::string_view word) {
    Peek();
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  std::string String() {
    if (!Take("\"")) throw std::runtime_error("expected a string");
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_.at(at_++);
      if (c == '\\') c = text_.at(at_++);  // the tests' texts hold no control characters
      out += c;
    }
    ++at_;
    return out;
  }
  JsonValue Value() {
    JsonValue v;
    if (Take("{")) {
      while (!Take("}")) {
        if (!v.members.empty() && !Take(",")) throw std::runtime_error("expected ,");
        std::string key = String();
        if (!Take(":")) throw std::runtime_error("expected :");
        v.members[key] = Value();
      }
    } else if (Take("[")) {
      while (!Take("]")) {
        if (!v.items.empty() && !Take(",")) throw std::runtime_error("expected ,");
        v.items.push_back(Value());
      }
    } else if (Peek() == '"') {
      v.text = String();
    } else if (Take("true")) {
      v.number = 1;
    } else if (!Take("false") && !Take("null")) {
      std::size_t used = 0;
      v.number = std::stod(std::string(text_.substr(at_, 32)), &used);
      at_ += used;
    }
    return v;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace mvx::testing
