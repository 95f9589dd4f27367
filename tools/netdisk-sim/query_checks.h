// Strict checks of request queries: every key in the order the program writes it,
// with the value it must have. The service answers a request that breaks its form
// with errno 2; the simulator does the same and logs why, so a client that drops,
// reorders or changes a key fails a test.
//
// A form is a list of KeyRule; CheckQueryForm compares a raw query with it. The
// checks of one endpoint go beside the ones below (CheckListQuery, ...).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace pansift::sim {

/// What the value of one key must be.
struct KeyRule {
  enum class Kind {
    Exact,     // exactly `text` (raw, as sent; "" for an empty value)
    Any,       // present, any value
    NonEmpty,  // present with a value
    Digits,    // one or more decimal digits
    Digits16,  // exactly 16 decimal digits (a NewLogId)
    LogId,     // 16 or 20 decimal digits (a NewLogId or a FixedLogId)
    OneOf,     // one of the "|"-separated texts in `text`
    Dir,       // a folder path value: starts with the encoded slash "%2F"
  };
  std::string key;
  Kind kind = Kind::Exact;
  std::string text;
};

using QueryForm = std::vector<KeyRule>;

/// Why `rawQuery` does not follow `form` key by key ("missing key dp-logid",
/// "key web is '2', expected '1'", ...), or "" when it does. No key may be added,
/// dropped or moved.
std::string CheckQueryForm(std::string_view rawQuery, const QueryForm& form);

/// /api/list: one of the listing forms (the crawler's, a tree node's by time or by
/// name, the tree root's, the move operation's folder test).
std::string CheckListQuery(std::string_view rawQuery);
/// /mbox/relation/getfollowlist.
std::string CheckFollowListQuery(std::string_view rawQuery);
/// /api/gettemplatevariable, /api/download, /api/filemanager and /api/create (its
/// query and its form body).
std::string CheckTemplateVariableQuery(std::string_view rawQuery);
std::string CheckDownloadQuery(std::string_view rawQuery);
std::string CheckFileManagerQuery(std::string_view rawQuery);
std::string CheckCreateQuery(std::string_view rawQuery);
std::string CheckCreateForm(std::string_view rawBody);

}  // namespace pansift::sim
