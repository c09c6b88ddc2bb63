#pragma once

// Just enough JSON for tests to read what a command printed: objects, arrays, strings with the
// escapes a writer uses, numbers, true, false, null. Throws std::runtime_error on anything else.

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mvx::testing {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  const JsonValue& operator[](const std::string& key) const {
    const auto found = members.find(key);
    if (kind != Kind::Object || found == members.end()) throw std::runtime_error("no " + key);
    return found->second;
  }
  const JsonValue& operator[](std::size_t i) const { return items.at(i); }
};

class JsonReader {
 public:
  static JsonValue Parse(std::string_view text) {
    JsonReader reader(text);
    JsonValue value = reader.Value();
    reader.Blanks();
    if (reader.at_ != text.size()) throw std::runtime_error("text after the value");
    return value;
  }

 private:
  explicit JsonReader(std::string_view text) : text_(text) {}

  void Blanks() {
    while (at_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
      ++at_;
  }
  bool Take(std::string_view word) {
    Blanks();
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  void Expect(std::string_view word) {
    if (!Take(word)) throw std::runtime_error("expected " + std::string(word));
  }
  std::string String() {
    Expect("\"");
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\' && at_ < text_.size()) {
        c = text_[at_++];
        if (c == 'n') c = '\n';
        if (c == 'r') c = '\r';
        if (c == 't') c = '\t';
        if (c == 'u') {
          c = static_cast<char>(std::stoi(std::string(text_.substr(at_, 4)), nullptr, 16));
          at_ += 4;
        }
      }
      out += c;
    }
    Expect("\"");
    return out;
  }
  JsonValue Value() {
    JsonValue v;
    Blanks();
    if (at_ >= text_.size()) throw std::runtime_error("unexpected end");
    const char c = text_[at_];
    if (c == '{') {
      v.kind = JsonValue::Kind::Object;
      Expect("{");
      while (!Take("}")) {
        if (!v.members.empty()) Expect(",");
        std::string key = String();
        Expect(":");
        v.members[key] = Value();
      }
    } else if (c == '[') {
      v.kind = JsonValue::Kind::Array;
      Expect("[");
      while (!Take("]")) {
        if (!v.items.empty()) Expect(",");
        v.items.push_back(Value());
      }
    } else if (c == '"') {
      v.kind = JsonValue::Kind::String;
      v.text = String();
    } else if (Take("true") || Take("false")) {
      v.kind = JsonValue::Kind::Bool;
      v.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
    } else if (!Take("null")) {
      std::size_t used = 0;
      v.kind = JsonValue::Kind::Number;
      v.number = std::stod(std::string(text_.substr(at_, 32)), &used);
      at_ += used;
    }
    return v;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace mvx::testing
