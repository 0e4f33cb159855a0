#pragma once
// Every file and short string of the program is Windows-1251, as the files of
// the analyzer's earlier Windows front end are. Qt's converter does the work;
// a text that has no Windows-1251 form is refused, never written altered.
//
// The code page leaves byte 0x98 undefined. It passes through as the control
// character U+0098, so that every file the program reads can be written back
// byte for byte.

#include <QByteArray>
#include <QString>
#include <optional>

namespace cp1251 {

// Encodes `text`; nullopt when a character has no Windows-1251 form.
std::optional<QByteArray> encode(const QString& text);
QString decode(const char* bytes, qsizetype length);
inline QString decode(const QByteArray& bytes) { return decode(bytes.constData(), bytes.size()); }
// True when `text` can be written in Windows-1251.
bool canEncode(const QString& text);

}  // namespace cp1251
