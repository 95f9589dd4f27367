// Local text (GBK) <-> QString, always through Unicode.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "util/codepage.h"

namespace pansift {

inline QString FromLocal(std::string_view local) {
  std::u16string u = LocalToUnicode(local);
  return QString::fromUtf16(u.data(), static_cast<qsizetype>(u.size()));
}

inline std::string ToLocal(const QString& text) {
  return UnicodeToLocal(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                            static_cast<size_t>(text.size())));
}

/// The program's own texts, written in the source as UTF-8.
inline QString Ui(const char* utf8) {
  return QString::fromUtf8(utf8);
}

}  // namespace pansift
