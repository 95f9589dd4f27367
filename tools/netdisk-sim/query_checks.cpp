#include "query_checks.h"

#include <strings.h>

#include <utility>

#include "codec.h"

namespace pansift::sim {
namespace {

using Kind = KeyRule::Kind;
using RawItems = std::vector<std::pair<std::string, std::string>>;

// "a=1&b=&c" -> (a,1) (b,"") (c,""), values left encoded.
RawItems SplitRawQuery(std::string_view raw) {
  RawItems items;
  if (raw.empty()) return items;
  size_t start = 0;
  for (;;) {
    size_t end = raw.find('&', start);
    std::string_view piece =
        raw.substr(start, end == std::string_view::npos ? raw.npos : end - start);
    size_t eq = piece.find('=');
    items.emplace_back(std::string(piece.substr(0, eq)), eq == std::string_view::npos
                                                             ? std::string()
                                                             : std::string(piece.substr(eq + 1)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return items;
}

// The raw value of `key`, or "".
std::string RawValue(const RawItems& items, std::string_view key) {
  for (const auto& item : items) {
    if (item.first == key) return item.second;
  }
  return {};
}

// A value as a log line quotes it: long ones (a fidlist of a big batch) cut short.
std::string Quoted(std::string_view value) {
  constexpr size_t kShown = 120;
  if (value.size() <= kShown) return "'" + std::string(value) + "'";
  return "'" + std::string(value.substr(0, kShown)) + "...' (" + std::to_string(value.size()) +
         " bytes)";
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Takes `escape` ("%2C", any case of its hex digits) off the front of `rest`.
bool TakeEscape(std::string_view& rest, std::string_view escape) {
  if (rest.size() < escape.size() || strncasecmp(rest.data(), escape.data(), escape.size()) != 0)
    return false;
  rest.remove_prefix(escape.size());
  return true;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsOneOf(std::string_view value, std::string_view choices) {
  size_t start = 0;
  for (;;) {
    size_t bar = choices.find('|', start);
    if (choices.substr(start, bar == std::string_view::npos ? choices.npos : bar - start) == value)
      return true;
    if (bar == std::string_view::npos) return false;
    start = bar + 1;
  }
}

constexpr std::string_view kFixedLogIdPrefix = "479995006038637";

std::string CheckValue(const KeyRule& rule, const std::string& value) {
  auto wrong = [&](const std::string& expected) {
    return "key " + rule.key + " is '" + value + "', expected " + expected;
  };
  switch (rule.kind) {
    case Kind::Exact:
      return value == rule.text ? "" : wrong("'" + rule.text + "'");
    case Kind::Any:
      return {};
    case Kind::NonEmpty:
      return value.empty() ? wrong("a value") : "";
    case Kind::Digits:
      return AllDigits(value) ? "" : wrong("digits");
    case Kind::NewLogId:
      return AllDigits(value) && value.size() == 16 ? "" : wrong("16 digits");
    case Kind::FixedLogId:
      return AllDigits(value) && value.size() == 20 && value.starts_with(kFixedLogIdPrefix)
                 ? ""
                 : wrong(std::string(kFixedLogIdPrefix) + " and 5 digits");
    case Kind::OneOf:
      return IsOneOf(value, rule.text) ? "" : wrong("one of " + rule.text);
    case Kind::Dir:
      return value.starts_with("%2F") ? "" : wrong("a path starting with %2F");
    case Kind::Decoded:
      return FormDecode(value) == rule.text ? "" : wrong("'" + rule.text + "' once decoded");
  }
  return {};
}

KeyRule Exact(const char* key, const char* value) {
  return {key, Kind::Exact, value};
}
KeyRule Of(const char* key, Kind kind, const char* text = "") {
  return {key, kind, text};
}

// The keys every web API call opens with; a log id is a fresh one of 16 digits,
// the deletes' the fixed prefix and five digits.
QueryForm WebApiKeys(Kind logId = Kind::NewLogId) {
  return {Exact("clienttype", "0"), Exact("app_id", "250528"), Exact("web", "1"),
          Of("dp-logid", logId)};
}

QueryForm Join(std::initializer_list<QueryForm> parts) {
  QueryForm all;
  for (const QueryForm& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

constexpr const char* kTimeT = "0.9874196068828893";
constexpr const char* kNameT = "0.9227398003716567";
constexpr const char* kRootT = "0.18259558284517108";

// The listing forms of the program, up to the t value (the tails differ after it).
QueryForm ListingForm(const std::string& t) {
  QueryForm form = {Of("order", Kind::OneOf, "name|time"), Of("desc", Kind::OneOf, "0|1"),
                    Exact("showempty", "0"), Exact("web", "1")};
  if (t == kRootT) {
    form.insert(form.end(), {Exact("page", "1"), Exact("num", "200"), Exact("dir", "%2F")});
  } else {
    // Any page size: the simulator's own tests page through small pages.
    form.insert(form.end(),
                {Of("page", Kind::Digits), Of("num", Kind::Digits), Of("dir", Kind::Dir)});
  }
  form.insert(form.end(),
              {Of("t", Kind::OneOf, "0.9874196068828893|0.9227398003716567|0.18259558284517108"),
               Exact("channel", "chunlei"), Exact("web", "1"), Exact("app_id", "250528"),
               Exact("bdstoken", "")});
  // The name-ordered node pages and the root page carry an empty logid as well.
  if (t == kNameT || t == kRootT) form.push_back(Exact("logid", ""));
  form.push_back(Exact("clienttype", "0"));
  return form;
}

QueryForm MoveFolderTestForm() {
  return Join({WebApiKeys(Kind::NewLogId),
               {Exact("order", "time"), Exact("desc", "1"), Of("dir", Kind::Dir),
                Exact("num", "100"), Exact("page", "1")}});
}

}  // namespace

std::string CheckQueryForm(std::string_view rawQuery, const QueryForm& form) {
  RawItems items = SplitRawQuery(rawQuery);
  auto present = [&](const std::string& key) {
    for (const auto& item : items) {
      if (item.first == key) return true;
    }
    return false;
  };
  for (size_t i = 0; i < form.size(); ++i) {
    const KeyRule& rule = form[i];
    if (i >= items.size() || items[i].first != rule.key) {
      if (!present(rule.key)) return "missing key " + rule.key;
      return "key " + rule.key + " out of order: '" + (i < items.size() ? items[i].first : "") +
             "' at position " + std::to_string(i + 1);
    }
    if (std::string bad = CheckValue(rule, items[i].second); !bad.empty()) return bad;
  }
  if (items.size() > form.size()) return "unexpected key " + items[form.size()].first;
  return {};
}

std::string CheckListQuery(std::string_view rawQuery) {
  RawItems items = SplitRawQuery(rawQuery);
  if (!items.empty() && items[0].first == "clienttype")
    return CheckQueryForm(rawQuery, MoveFolderTestForm());
  std::string t;
  for (const auto& item : items) {
    if (item.first == "t") t = item.second;
  }
  if (t != kTimeT && t != kNameT && t != kRootT) t = kTimeT;  // the form then names the fault
  return CheckQueryForm(rawQuery, ListingForm(t));
}

std::string CheckFollowListQuery(std::string_view rawQuery) {
  static const QueryForm kForm =
      Join({WebApiKeys(Kind::NewLogId), {Exact("start", "0"), Exact("limit", "10")}});
  return CheckQueryForm(rawQuery, kForm);
}

std::string CheckTemplateVariableQuery(std::string_view rawQuery) {
  static const QueryForm kForm = Join({WebApiKeys(), {Of("fields", Kind::NonEmpty)}});
  if (std::string bad = CheckQueryForm(rawQuery, kForm); !bad.empty()) return bad;
  const std::string fields = RawValue(SplitRawQuery(rawQuery), "fields");
  // [%22name%22,%22name%22,...]: the page leaves brackets and commas as they are.
  std::vector<std::string_view> names;
  std::string_view rest = fields;
  bool wellFormed = !rest.empty() && rest.front() == '[' && rest.back() == ']';
  if (wellFormed) rest = rest.substr(1, rest.size() - 2);
  while (wellFormed) {
    wellFormed = TakeEscape(rest, "%22");
    size_t length = 0;
    while (length < rest.size() && (IsAlnum(rest[length]) || rest[length] == '_')) ++length;
    names.push_back(rest.substr(0, length));
    rest.remove_prefix(length);
    wellFormed = wellFormed && length > 0 && TakeEscape(rest, "%22");
    if (!wellFormed || rest.empty()) break;
    wellFormed = rest.front() == ',';
    rest.remove_prefix(1);
  }
  if (!wellFormed) {
    return "key fields is " + Quoted(fields) +
           ", expected [%22sign1%22,%22sign2%22,...] as the web page writes it";
  }
  for (std::string_view name : names) {
    if (name == "sign2") return {};
  }
  return "key fields does not ask for sign2";
}

std::string CheckDownloadQuery(std::string_view rawQuery) {
  static const QueryForm kForm =
      Join({WebApiKeys(),
            {Of("fidlist", Kind::NonEmpty), Exact("type", "dlink"), Exact("vip", "0"),
             Of("sign", Kind::NonEmpty), Of("timestamp", Kind::Digits)}});
  if (std::string bad = CheckQueryForm(rawQuery, kForm); !bad.empty()) return bad;
  const RawItems items = SplitRawQuery(rawQuery);
  // %5B id %2C id ... %5D: the list encoded whole, its ids plain decimal numbers.
  const std::string fidlist = RawValue(items, "fidlist");
  std::string_view rest = fidlist;
  bool wellFormed = TakeEscape(rest, "%5B");
  while (wellFormed) {
    size_t length = 0;
    while (length < rest.size() && rest[length] >= '0' && rest[length] <= '9') ++length;
    wellFormed = length > 0 && (length == 1 || rest.front() != '0');
    rest.remove_prefix(length);
    if (!wellFormed || TakeEscape(rest, "%5D")) break;
    wellFormed = TakeEscape(rest, "%2C");
  }
  if (!wellFormed || !rest.empty()) {
    return "key fidlist is " + Quoted(fidlist) +
           ", expected an encoded JSON array of fs_ids (%5B1%2C2%5D)";
  }
  // Base64 with its "+", "/" and "=" encoded: a raw "+" would be read as a space.
  const std::string sign = RawValue(items, "sign");
  rest = sign;
  while (wellFormed && !rest.empty()) {
    if (IsAlnum(rest.front())) {
      rest.remove_prefix(1);
    } else {
      wellFormed = TakeEscape(rest, "%2B") || TakeEscape(rest, "%2F") || TakeEscape(rest, "%3D");
    }
  }
  if (!wellFormed) {
    return "key sign is " + Quoted(sign) + ", expected Base64 with +, / and = percent-encoded";
  }
  return {};
}

std::string CheckFileManagerQuery(std::string_view rawQuery) {
  static const QueryForm kDelete =
      Join({{Of("async", Kind::OneOf, "0|1|2"), Exact("onnest", "fail"), Exact("opera", "delete"),
             Of("bdstoken", Kind::Any)},
            WebApiKeys(Kind::FixedLogId)});
  static const QueryForm kMove = Join({{Exact("async", "0"), Exact("onnest", "fail"),
                                        Exact("opera", "move"), Of("bdstoken", Kind::Any)},
                                       WebApiKeys(Kind::NewLogId)});
  // Neither: the delete's form with either operation names what is wrong.
  static const QueryForm kEither = [] {
    QueryForm form = kDelete;
    form[2] = Of("opera", Kind::OneOf, "delete|move");
    return form;
  }();
  const std::string opera = RawValue(SplitRawQuery(rawQuery), "opera");
  return CheckQueryForm(rawQuery, opera == "move" ? kMove : opera == "delete" ? kDelete : kEither);
}

std::string CheckFileManagerForm(std::string_view rawBody) {
  if (std::string bad = CheckFormEncoding(rawBody); !bad.empty()) return bad;
  static const QueryForm kForm = {Of("filelist", Kind::NonEmpty)};
  return CheckQueryForm(rawBody, kForm);
}

std::string CheckCreateQuery(std::string_view rawQuery) {
  static const QueryForm kForm =
      Join({{Exact("a", "commit"), Of("bdstoken", Kind::Any)}, WebApiKeys()});
  return CheckQueryForm(rawQuery, kForm);
}

std::string CheckCreateForm(std::string_view rawBody) {
  if (std::string bad = CheckFormEncoding(rawBody); !bad.empty()) return bad;
  static const QueryForm kForm = {Of("path", Kind::NonEmpty), Exact("isdir", "1"),
                                  Of("block_list", Kind::Decoded, "[]")};
  if (std::string bad = CheckQueryForm(rawBody, kForm); !bad.empty()) return bad;
  if (!IsUtf8(FormDecode(RawValue(SplitRawQuery(rawBody), "path"))))
    return "key path is not UTF-8 once decoded";
  return {};
}

std::string CheckFormEncoding(std::string_view rawBody) {
  auto at = [](size_t i) { return " at byte " + std::to_string(i + 1); };
  if (rawBody.empty()) return "the form is empty";
  size_t pairStart = 0;
  bool hasEquals = false;
  for (size_t i = 0; i <= rawBody.size(); ++i) {
    if (i == rawBody.size() || rawBody[i] == '&') {
      if (i == pairStart) return "the form has an empty pair" + at(i);
      if (!hasEquals) return "the form has a pair without '='" + at(i);
      pairStart = i + 1;
      hasEquals = false;
      continue;
    }
    const char c = rawBody[i];
    if (c == '=') {
      if (i == pairStart) return "the form has a pair without a key" + at(i);
      if (hasEquals) return "the form has a raw '=' in a value" + at(i);
      hasEquals = true;
    } else if (c == '%') {
      if (i + 2 >= rawBody.size() || !IsHex(rawBody[i + 1]) || !IsHex(rawBody[i + 2]))
        return "the form has a '%' that starts no escape" + at(i);
      i += 2;
    } else if (!IsAlnum(c) && std::string_view("-._~!*'()+").find(c) == std::string_view::npos) {
      const auto byte = static_cast<unsigned char>(c);
      static const char* hex = "0123456789ABCDEF";
      const std::string shown = byte > 0x20 && byte < 0x7F
                                    ? "'" + std::string(1, c) + "'"
                                    : std::string("byte 0x") + hex[byte >> 4] + hex[byte & 0xF];
      return "the form has a raw " + shown + at(i) + ", which a form must encode";
    }
  }
  return {};
}

std::string CheckFormContentType(std::string_view contentType) {
  constexpr std::string_view kForm = "application/x-www-form-urlencoded";
  std::string_view type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  if (type.size() == kForm.size() && strncasecmp(type.data(), kForm.data(), kForm.size()) == 0)
    return {};
  return "Content-Type is '" + std::string(contentType) + "', expected " + std::string(kForm);
}

}  // namespace pansift::sim
