// The core's 8-bit texts on Qt's strings.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <string>
#include <string_view>

#include "platform/core/code_page.h"

namespace tl {

// Texts from modules and files (tree labels, message texts): one character
// per byte in the program's code page, as the console shows them.
inline QString CodePageToQt(std::string_view text) {
  QString decoded(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = Cp1252CodePoint(static_cast<unsigned char>(text[i]));
    decoded[static_cast<qsizetype>(i)] = QChar(static_cast<char16_t>(c));
  }
  return decoded;
}

// Paths and the user's own entries: UTF-8 when they are valid UTF-8 and
// Latin-1 otherwise (bytes of old files show as characters, never as
// replacement marks).
inline QString ToQt(std::string_view text) {
  QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8.decode(bytes);
  if (utf8.hasError()) return QString::fromLatin1(bytes);
  return decoded;
}

inline std::string FromQt(const QString& text) {
  QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace tl
