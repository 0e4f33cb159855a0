#pragma once
// The table protocol: a title line and one fixed-width line per table row,
// printed as plain lines in the print font.

#include <QFont>
#include <QStringList>

class QPrinter;
class ResultsTable;

// "Потокол замеров KVX от <date> <time>", then every row from the header on,
// each cell right-aligned in its field (10, 14, 10, then 13 x 8 characters);
// a longer cell is written whole.
QStringList ProtocolLines(const ResultsTable& table, double now);

// Prints `lines` on `printer` in `font` with the line and page rules of the
// printer text output. False, with `error` set, when printing failed.
bool PrintLines(QPrinter& printer, const QStringList& lines, const QFont& font, QString* error);
