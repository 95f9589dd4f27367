#include "tree/file_icon.h"

#include <algorithm>
#include <string>
#include <utility>

#include "util/text.h"

namespace pansift {

int FileIconIndex(std::string_view name) {
  // Character-aware searches: a GBK trail byte may be a backslash.
  int slash = std::max(FindLastText(name, "/"), FindLastText(name, "\\"));
  std::string_view last = slash > 0 ? name.substr(slash) : name;
  int dot = FindLastText(last, ".");
  if (dot < 0) return kPictureFolder;
  std::string ext(last.substr(dot - 1));
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  static const std::pair<const char*, int> kTable[] = {
      {".mp4", kPictureVideo},
      {".avi", kPictureVideo},
      {".mov", kPictureVideo},
      {".rar", kPictureArchive},
      {".zip", kPictureArchive},
      {".7z", kPictureArchive},
      {".apk", kPictureAndroidPackage},
      {".jpg", kPictureImage},
      {".gif", kPictureImage},
      {".jpge", kPictureImage},
      {".bmp", kPictureImage},
      {".png", kPictureImage},
      {".ico", kPictureImage},
      {".wav", kPictureAudio},
      {".mp3", kPictureAudio},
      {".m4a", kPictureAudio},
      {".pdf", kPicturePdf},
      {".exe", kPictureProgram},
      {".xml", kPictureMarkup},
      {".htm", kPictureMarkup},
      {".html", kPictureMarkup},
      {".php", kPictureMarkup},
      {".asp", kPictureMarkup},
      {".txt", kPictureText},
      {".doc", kPictureWordDocument},
      {".docx", kPictureWordDocument},
      {".xls", kPictureSpreadsheet},
      {".xlsx", kPictureSpreadsheet},
      {".csv", kPictureSpreadsheet},
      {".ppt", kPicturePresentation},
      {".pptx", kPicturePresentation},
  };
  for (const auto& [extension, picture] : kTable) {
    if (ext == extension) return picture;
  }
  return kPictureOtherFile;
}

}  // namespace pansift
