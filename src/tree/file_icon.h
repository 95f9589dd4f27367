// The pictures of the folder tree and which one a file gets.
#pragma once

#include <string_view>

namespace pansift {

/// Indexes into the tree's list of 17 pictures.
enum TreePicture : int {
  kPictureFolder = 0,
  kPictureVideo = 1,
  kPictureArchive = 2,
  kPictureAndroidPackage = 3,
  kPictureBinoculars = 4,
  kPictureDocuments = 5,
  kPictureAccount = 6,
  kPictureImage = 7,
  kPictureAudio = 8,
  kPictureOtherFile = 9,
  kPicturePdf = 10,
  kPictureProgram = 11,
  kPictureMarkup = 12,
  kPictureText = 13,
  kPictureWordDocument = 14,
  kPictureSpreadsheet = 15,
  kPicturePresentation = 16,
  kPictureCount = 17,
};

/// The picture of a file by its extension (from the last "." of the last path
/// component, ASCII letters compared without case); no extension gives the folder
/// picture, an unknown one kPictureOtherFile.
int FileIconIndex(std::string_view name);

}  // namespace pansift
