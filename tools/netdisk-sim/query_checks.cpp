#include "query_checks.h"

#include <utility>

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
    case Kind::Digits16:
      return AllDigits(value) && value.size() == 16 ? "" : wrong("16 digits");
    case Kind::LogId:
      return AllDigits(value) && (value.size() == 16 || value.size() == 20)
                 ? ""
                 : wrong("16 or 20 digits");
    case Kind::OneOf:
      return IsOneOf(value, rule.text) ? "" : wrong("one of " + rule.text);
    case Kind::Dir:
      return value.starts_with("%2F") ? "" : wrong("a path starting with %2F");
  }
  return {};
}

KeyRule Exact(const char* key, const char* value) {
  return {key, Kind::Exact, value};
}
KeyRule Of(const char* key, Kind kind, const char* text = "") {
  return {key, kind, text};
}

// The keys every web API call opens with; a log id is 16 digits, or 20 for the
// deletes' fixed one.
QueryForm WebApiKeys(Kind logId = Kind::LogId) {
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
  return Join({WebApiKeys(Kind::Digits16),
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
      Join({WebApiKeys(Kind::Digits16), {Exact("start", "0"), Exact("limit", "10")}});
  return CheckQueryForm(rawQuery, kForm);
}

std::string CheckTemplateVariableQuery(std::string_view rawQuery) {
  static const QueryForm kForm = Join({WebApiKeys(), {Of("fields", Kind::NonEmpty)}});
  return CheckQueryForm(rawQuery, kForm);
}

std::string CheckDownloadQuery(std::string_view rawQuery) {
  static const QueryForm kForm =
      Join({WebApiKeys(),
            {Of("fidlist", Kind::NonEmpty), Exact("type", "dlink"), Exact("vip", "0"),
             Of("sign", Kind::NonEmpty), Of("timestamp", Kind::Digits)}});
  return CheckQueryForm(rawQuery, kForm);
}

std::string CheckFileManagerQuery(std::string_view rawQuery) {
  static const QueryForm kForm =
      Join({{Of("async", Kind::OneOf, "0|1|2"), Of("onnest", Kind::NonEmpty),
             Of("opera", Kind::OneOf, "delete|move"), Of("bdstoken", Kind::Any)},
            WebApiKeys()});
  return CheckQueryForm(rawQuery, kForm);
}

std::string CheckCreateQuery(std::string_view rawQuery) {
  static const QueryForm kForm =
      Join({{Exact("a", "commit"), Of("bdstoken", Kind::Any)}, WebApiKeys()});
  return CheckQueryForm(rawQuery, kForm);
}

std::string CheckCreateForm(std::string_view rawBody) {
  static const QueryForm kForm = {Of("path", Kind::NonEmpty), Exact("isdir", "1"),
                                  Of("block_list", Kind::NonEmpty)};
  return CheckQueryForm(rawBody, kForm);
}

}  // namespace pansift::sim
