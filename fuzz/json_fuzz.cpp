// JsonDoc on arbitrary text: parsing never fails loudly, and a parsed document
// written out, parsed again and written out again gives the same text.
#include <string>

#include "fuzz_check.h"
#include "json/json_doc.h"
#include "util/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using pansift::JsonDoc;
  std::string_view input = pansift::fuzz::AsText(data, size);

  for (bool utf8 : {false, true}) {
    JsonDoc doc;
    bool parsed = utf8 ? doc.parseUtf8(input) : doc.parse(input);
    std::string text = doc.toText();
    FUZZ_CHECK(parsed || text.empty());
    if (!parsed) continue;

    JsonDoc again;
    FUZZ_CHECK(again.parse(text));
    FUZZ_CHECK(again.toText() == text);
    FUZZ_CHECK(again.count("") == doc.count(""));

    // Reads at the paths the program uses, and at every element of the root.
    int count = doc.count("");
    for (int i = 0; i < count && i < 8; ++i) {
      std::string step = "[" + std::to_string(i) + "]";
      (void)doc.getText(step);
      (void)doc.getJson(step);
      (void)doc.count(step);
    }
    for (const char* path : {"errno", "list[0].server_filename", "data[0].user", "result.sign1"}) {
      FUZZ_CHECK(doc.getText(path) == again.getText(path));
      FUZZ_CHECK(doc.getJson(path) == again.getJson(path));
    }

    // Copies and writes through the document.
    JsonDoc copy = doc;
    copy.setText("fuzz", "a\\nb");
    copy.append("arr", text);
    copy.setJson("obj", text);
    (void)copy.toText();
  }

  // The input as a path, a written text and an embedded value.
  auto [first, rest] = pansift::fuzz::SplitAtNul(input);
  JsonDoc doc;
  doc.parse("{\"a\":{\"b\":[1,\"x\",{\"c\":null}]},\"a.b\":true}");
  (void)doc.getText(first);
  (void)doc.getJson(first);
  (void)doc.count(first);
  doc.setText(first, rest);
  doc.setJson(first, rest);
  doc.append(first, rest);
  doc.setNumber(first, static_cast<double>(size) / 3.0);

  // A text set as a string reads back unchanged before it is written out, and the
  // written document is valid JSON (its escapes are taken as escapes, so reading
  // it back need not give the same text).
  // Text that is not valid GBK cannot be held as Unicode and is left out.
  JsonDoc built;
  built.setText("name", first);
  if (pansift::UnicodeToLocal(pansift::LocalToUnicode(first)) == first) {
    FUZZ_CHECK(built.getText("name") == std::string(first));
  }
  JsonDoc reread;
  FUZZ_CHECK(reread.parse(built.toText()));

  std::string escaped = pansift::EscapeJsonPathName(first);
  JsonDoc named;
  named.setText(escaped, "v");
  (void)named.getText(escaped);
  return 0;
}
