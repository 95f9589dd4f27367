#include "cli/json_out.h"

#include <cstdio>

namespace pansift::cli {

std::string JsonQuote(std::string_view utf8) {
  std::string quoted = "\"";
  for (char c : utf8) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

void JsonObject::add(std::string_view name, std::string_view utf8) {
  addRaw(name, JsonQuote(utf8));
}

void JsonObject::add(std::string_view name, long long number) {
  addRaw(name, std::to_string(number));
}

void JsonObject::add(std::string_view name, bool value) {
  addRaw(name, value ? "true" : "false");
}

void JsonObject::addRaw(std::string_view name, std::string_view json) {
  if (!members_.empty()) members_ += ',';
  members_ += JsonQuote(name);
  members_ += ':';
  members_ += json;
}

void JsonArray::add(const JsonObject& object) {
  if (!elements_.empty()) elements_ += ',';
  elements_ += object.text();
}

void JsonArray::add(std::string_view utf8) {
  if (!elements_.empty()) elements_ += ',';
  elements_ += JsonQuote(utf8);
}

}  // namespace pansift::cli
