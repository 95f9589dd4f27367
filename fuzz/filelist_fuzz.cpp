// Names and imported table cells become request bodies: whatever they hold, a
// delete's or move's filelist is one JSON array with one item naming exactly that
// path, and a name goes through the catalogue and back unchanged.
#include <string>

#include "blocked/exports.h"
#include "fuzz_check.h"
#include "json/json_doc.h"
#include "netdisk/file_operations.h"
#include "pipeline/catalogue_db.h"
#include "util/codepage.h"
#include "util/text.h"

namespace {

// The JSON of a form field "filelist=<percent-encoded UTF-8>".
pansift::JsonDoc FileListOf(const std::string& field) {
  constexpr std::string_view kName = "filelist=";
  FUZZ_CHECK(field.rfind(kName, 0) == 0);
  const std::string value = field.substr(kName.size());
  // Percent-encoded whole: no character of its own can end the field.
  FUZZ_CHECK(value.find_first_of("&=\"[]{}\r\n") == std::string::npos);
  pansift::JsonDoc doc;
  FUZZ_CHECK(doc.parseUtf8(pansift::UrlDecodeBytes(value)));
  FUZZ_CHECK(doc.count("") == 1);
  return doc;
}

void CheckPath(const std::u16string& path) {
  // Paths go out as UTF-8: a lone surrogate has no form there, so such a name is
  // compared by what UTF-8 makes of it.
  const std::u16string expected = pansift::Utf8ToUnicode(pansift::UnicodeToUtf8(path));
  pansift::JsonDoc deleted = FileListOf(pansift::DeleteFileList(path));
  FUZZ_CHECK(deleted.getUnicode("[0]") == expected);
  pansift::JsonDoc moved = FileListOf(pansift::MoveFileList(path, u"/to", path));
  FUZZ_CHECK(moved.getUnicode("[0].path") == expected);
  FUZZ_CHECK(moved.getUnicode("[0].newname") == expected);
  FUZZ_CHECK(moved.getUnicode("[0].ondup") == u"newcopy");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = pansift::fuzz::AsText(data, size);

  // The input as a name from a listing.
  const std::u16string name = pansift::CutAtTerminator(pansift::DecodeOwnFile(input));
  const std::string listed = pansift::UnicodeToEscapedLocal(name);
  FUZZ_CHECK(pansift::NetdiskPathOfStored(pansift::StoredName(listed)) == name);
  if (!name.empty()) CheckPath(name);

  // The input as an imported table: every row that may act gives one path per body.
  for (const pansift::BlockedRow& row : pansift::ParseTable(pansift::DecodeOwnFile(input))) {
    if (pansift::IsNetdiskPath(row.netdiskPath)) CheckPath(row.netdiskPath);
  }
  return 0;
}
