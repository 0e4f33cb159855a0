#include "storage/text_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace cp1251 {

std::optional<QByteArray> Encode(const QString& text) {
  QStringEncoder encoder("windows-1251");
  QByteArray bytes = encoder.encode(text);
  if (!encoder.isValid() || encoder.hasError()) return std::nullopt;
  return bytes;
}

QString Decode(const QByteArray& bytes) { return Decode(bytes.constData(), bytes.size()); }

QString Decode(const char* bytes, qsizetype length) {
  QStringDecoder decoder("windows-1251");
  // Windows-1251 maps every byte but 0x98; that one decodes to U+FFFD.
  return decoder.decode(QByteArrayView(bytes, length));
}

bool CanEncode(const QString& text) { return Encode(text).has_value(); }

}  // namespace cp1251
