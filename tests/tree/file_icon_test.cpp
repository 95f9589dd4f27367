#include "tree/file_icon.h"

#include <gtest/gtest.h>

namespace pansift {
namespace {

TEST(FileIconIndex, ByExtensionWithoutCase) {
  struct Case {
    const char* name;
    int picture;
  } cases[] = {
      {"Movie.MP4", kPictureVideo},        {"archive.tar.gz", kPictureOtherFile},
      {"README", kPictureFolder},          {"a.b/README", kPictureFolder},
      {"photo.JpGe", kPictureImage},       {"sheet.csv", kPictureSpreadsheet},
      {"deck.pptx", kPicturePresentation}, {"page.HTML", kPictureMarkup},
      {"trailing.", kPictureOtherFile},    {"setup.exe", kPictureProgram},
  };
  for (const Case& c : cases) EXPECT_EQ(FileIconIndex(c.name), c.picture) << c.name;
}

}  // namespace
}  // namespace pansift
