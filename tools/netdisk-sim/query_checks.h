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
    Exact,       // exactly `text` (raw, as sent; "" for an empty value)
    Any,         // present, any value
    NonEmpty,    // present with a value
    Digits,      // one or more decimal digits
    NewLogId,    // exactly 16 decimal digits
    FixedLogId,  // "479995006038637" and five decimal digits (the deletes' log id)
    OneOf,       // one of the "|"-separated texts in `text`
    Dir,         // a folder path value: starts with the encoded slash "%2F"
    Decoded,     // exactly `text` once form-decoded
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
/// /api/gettemplatevariable: the fields list as the web page writes it into the
/// URL, brackets and commas as they stand, each name in encoded quotes
/// ("[%22sign1%22,%22sign2%22,...]"), sign2 among them.
std::string CheckTemplateVariableQuery(std::string_view rawQuery);
/// /api/download: the fidlist an encoded JSON array of fs_ids
/// ("%5B1%2C2%5D"), the sign Base64 with "+", "/" and "=" percent-encoded (a raw
/// "+" would arrive as a space).
std::string CheckDownloadQuery(std::string_view rawQuery);
/// /api/filemanager: a delete's query (async 0, 1 or 2 and the fixed log id) or a
/// move's (async 0 and a fresh log id), onnest=fail for both.
std::string CheckFileManagerQuery(std::string_view rawQuery);
/// Its body: one form-encoded field, filelist (the JSON in it is the endpoint's).
std::string CheckFileManagerForm(std::string_view rawBody);
/// /api/create: its query, and its body: a form-encoded path (the decoded path
/// UTF-8), isdir=1 and block_list=[].
std::string CheckCreateQuery(std::string_view rawQuery);
std::string CheckCreateForm(std::string_view rawBody);

/// Every POST body the service reads is a form: "key=value" pairs joined by "&",
/// each byte of a key or value a letter, a digit, one of - . _ ~ ! * ' ( ), a "+"
/// (a space) or a "%XX" escape. Anything else ("/", a quote, a raw space, a
/// second "=", a byte above 0x7F, ...) is a character the form must encode: why,
/// or "" when the body is strictly encoded.
std::string CheckFormEncoding(std::string_view rawBody);
/// The Content-Type header of such a body: application/x-www-form-urlencoded (any
/// case, parameters such as a charset allowed). Why not, or "".
std::string CheckFormContentType(std::string_view contentType);

}  // namespace pansift::sim
