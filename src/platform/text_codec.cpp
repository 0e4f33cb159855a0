#include "platform/text_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace cp1251 {
namespace {
constexpr char16_t kUndefined = 0x0098;
}

std::optional<QByteArray> encode(const QString& text) {
  QStringEncoder encoder("windows-1251");
  if (!encoder.isValid()) return std::nullopt;
  QByteArray bytes;
  bytes.reserve(text.size());
  qsizetype start = 0;
  for (;;) {
    const qsizetype end = text.indexOf(QChar(kUndefined), start);
    bytes += encoder.encode(QStringView(text).mid(start, (end < 0 ? text.size() : end) - start));
    if (encoder.hasError()) return std::nullopt;
    if (end < 0) break;
    bytes += char(0x98);
    start = end + 1;
  }
  return bytes;
}

QString decode(const char* bytes, qsizetype length) {
  QStringDecoder decoder("windows-1251");
  QString text = decoder.decode(QByteArrayView(bytes, length));
  // Every other byte is defined, so each replacement character stands for 0x98.
  text.replace(QChar(QChar::ReplacementCharacter), QChar(kUndefined));
  return text;
}

bool canEncode(const QString& text) { return encode(text).has_value(); }

}  // namespace cp1251
