#pragma once
// Every file and short string of the program is Windows-1251, as the files of
// the analyzer's earlier Windows front end are. Qt's own converters do the work;
// a text that has no Windows-1251 form is refused, never written altered.

#include <QByteArray>
#include <QString>
#include <optional>

namespace cp1251 {

// Encodes `text`; nullopt when a character has no Windows-1251 form.
std::optional<QByteArray> Encode(const QString& text);
QString Decode(const QByteArray& bytes);
QString Decode(const char* bytes, qsizetype length);
// True when `text` can be written in Windows-1251.
bool CanEncode(const QString& text);

}  // namespace cp1251
