#include "cli/json_out.h"

#include <cstdio>

#include "cli/console.h"

namespace pansift::cli {

std::string JsonQuote(std::string_view utf8) {
  std::string quoted = "\"";
  for (size_t at = 0; at < utf8.size();) {
    auto [cp, length] = DecodeUtf8At(utf8, at);
    if (length == 0) {
      quoted += utf8[at++];  // not UTF-8: kept as it is (names arrive as valid UTF-8)
      continue;
    }
    switch (cp) {
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
        // JSON must escape the C0 controls; the rest of what could drive a terminal
        // that shows the document is escaped too, and reads back the same.
        if (IsTerminalControl(cp)) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
          quoted += escape;
        } else {
          quoted.append(utf8.substr(at, length));
        }
    }
    at += length;
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
