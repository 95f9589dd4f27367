// The JSON the command line prints: compact, UTF-8, written in one pass.
#pragma once

#include <string>
#include <string_view>

namespace pansift::cli {

/// `utf8` as a JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonQuote(std::string_view utf8);

class JsonObject {
 public:
  void add(std::string_view name, std::string_view utf8);
  void add(std::string_view name, const char* utf8) { add(name, std::string_view(utf8)); }
  void add(std::string_view name, long long number);
  void add(std::string_view name, bool value);
  /// A member whose value is already JSON text.
  void addRaw(std::string_view name, std::string_view json);
  std::string text() const { return "{" + members_ + "}"; }

 private:
  std::string members_;
};

class JsonArray {
 public:
  void add(const JsonObject& object);
  void add(std::string_view utf8);
  std::string text() const { return "[" + elements_ + "]"; }

 private:
  std::string elements_;
};

}  // namespace pansift::cli
