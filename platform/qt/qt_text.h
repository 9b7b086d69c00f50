// The core's 8-bit texts on Qt's strings. Texts are UTF-8 when they are
// valid UTF-8 and Latin-1 otherwise (bytes from the network or old files
// show as characters, never as replacement marks).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <string>
#include <string_view>

namespace tl {

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
