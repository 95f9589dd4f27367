// JsonDoc: one JSON document, read and written by path.
//
// Every reply of the netdisk service and the account file are JSON. Callers parse
// a text into a fresh JsonDoc, ask for values by path and throw the document away;
// nobody walks a tree by hand.
//
// Paths: member names separated by full stops, array indexes in brackets:
//   "list[3].server_filename", "data[0].user", "result.sign1", "errno", "" (the root).
// A backslash makes the next character part of the name, so "a\.b" names the member
// "a.b" (see EscapeJsonPathName). Names match exactly and case-sensitively.
//
// Text in and out is local text (GBK). Strings are held as Unicode inside. A string
// character that GBK cannot hold (an emoji, a Hangul syllable) comes back as a
// "\uXXXX" escape (a surrogate pair as two escapes) instead of "?". Names of the
// service are read with getUnicode, where a literal "\u" cannot be taken for such an
// escape; request bodies are written from Unicode (setUnicode, toUtf8), never pasted
// together from text.
//
// Nothing here reports an error: invalid JSON gives an empty document, a path that
// leads nowhere reads as "" and counts 0, and a write through a missing step does
// nothing.
//
// A document is used by one thread at a time (it keeps lazy caches, even in its
// const operations); each thread makes its own.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace pansift {

class JsonDoc {
 public:
  JsonDoc();
  ~JsonDoc();
  JsonDoc(const JsonDoc& other);
  JsonDoc& operator=(const JsonDoc& other);
  JsonDoc(JsonDoc&& other) noexcept;
  JsonDoc& operator=(JsonDoc&& other) noexcept;

  // ---- Reading -------------------------------------------------------------------

  /// Parses local (GBK) text, read up to its first NUL byte. Accepts standard JSON,
  /// strings between apostrophes as well as double quotes, and a leading byte-order
  /// mark. On success the document holds the value and true is returned; otherwise
  /// the document holds nothing. Replaces whatever the document held before.
  bool parse(std::string_view localText);
  /// As parse, for UTF-8 input (a file saved as UTF-8).
  bool parseUtf8(std::string_view utf8);
  /// As parse, for Unicode text (a file already decoded), read up to its first
  /// 0x0000 unit.
  bool parseUnicode(std::u16string_view text);

  /// The value at `path` as local text:
  /// - a string: its characters with escapes decoded (GBK-foreign ones as \uXXXX);
  /// - a number: the literal exactly as it stood in the input ("388670939482157",
  ///   "1.50"); a number set with setNumber gives its shortest decimal form;
  /// - true / false: "true" / "false";
  /// - null, an object, an array, or nothing at the path: "".
  std::string getText(std::string_view path) const;
  /// The value at `path` as Unicode text, exactly: a string's characters; any other
  /// value as getText gives it.
  std::u16string getUnicode(std::string_view path) const;
  /// The value at `path` written as compact JSON (the rules of toText); "" when the
  /// path leads nowhere. getJson("errno") of {"errno":0,...} is "0".
  std::string getJson(std::string_view path) const;
  /// Elements of the array at `path`, or members of the object at `path`; 0 for any
  /// other value and for a path that leads nowhere.
  int count(std::string_view path) const;

  // ---- Writing -------------------------------------------------------------------
  //
  // A write creates the last step of its path when it is missing (a member is added
  // at the end of its object; an index one past the end appends, one further fills
  // the gap with null). Every earlier step must already lead to an object or array,
  // otherwise the write does nothing. A one-step write on an empty document first
  // makes the root an empty object (an empty array when the step is an index), so a
  // document can be built from nothing. The empty path writes the root itself.

  /// Sets the value at `path` to a string. Backslashes of `text` are kept as they
  /// are: toText writes a backslash that starts a JSON escape (\n, \\, \uXXXX, ...)
  /// as that escape, unescaped, so escapes in the text reach the JSON as escapes;
  /// any other backslash is written as \\ so the output stays valid JSON. getText
  /// before toText returns `text` unchanged.
  void setText(std::string_view path, std::string_view text);
  /// Sets the value at `path` to a string of exactly these characters: a backslash
  /// is a backslash, written as \\ like any string from parse.
  void setUnicode(std::string_view path, std::u16string_view text);
  /// Sets the value at `path` to a number.
  void setNumber(std::string_view path, double number);
  /// Sets the value at `path` to the value `jsonText` (local text) describes; an empty
  /// text counts as {}. When the target already holds an object and the text
  /// describes an object, the new members are merged into it (so "{}" leaves an
  /// existing object alone). Invalid JSON text changes nothing.
  void setJson(std::string_view path, std::string_view jsonText);
  /// Makes the value at `path` an array when it is not one (an empty one), then
  /// appends the value `jsonText` describes (empty text: {}). Invalid JSON text
  /// changes nothing.
  void append(std::string_view path, std::string_view jsonText);

  /// The whole document as compact JSON in local text, as JavaScript's
  /// JSON.stringify writes it without indentation: no whitespace, members in
  /// document order, numbers in shortest form (non-finite ones as null), strings
  /// with \\ \" \b \t \n \f \r and lower-case \u00XX escapes for the control and
  /// invisible characters; everything else, Chinese included, as itself. A
  /// character GBK cannot hold is written as a \uXXXX escape. "" for an empty
  /// document.
  std::string toText() const;
  /// The whole document as compact JSON in UTF-8, by the rules of toText but with
  /// every character as itself (a surrogate without its other half as an escape).
  std::string toUtf8() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// `name` (local text) with every full stop, bracket and backslash preceded by a
/// backslash, for building a path step from an arbitrary member name.
std::string EscapeJsonPathName(std::string_view name);

}  // namespace pansift
