#pragma once
// The table protocol: a title line and one fixed-width line per table row,
// printed as plain lines in the print font.

#include <QFont>
#include <QStringList>
#include <QStringView>
#include <functional>
#include <vector>

class QPrinter;
class ResultsLog;

// "Потокол замеров KVX от <date> <time>", then the headings and every result
// (an empty row when there is none), each cell right-aligned in its field
// (10, 14, 10, then 13 x 8 characters); a longer cell is written whole.
// Results the program took get their status's code in a field of 7 at the
// end of their line, and the codes used are explained in a last line.
QStringList protocolLines(const ResultsLog& log, double now);

// One printed piece of a line: its page (from 0), the top of its text in
// device pixels below the top of the printable area, and the text.
struct PrintedLine {
  int page;
  int top;
  QString text;
};

// The line rules of the printer's text output, in device pixels: each line
// starts at the left edge; a line is as high as its text plus 2 pixels (an
// empty line: the font's height); when the next line's top would lie below
// the page height minus twice the height of the line just finished, it goes
// to the top of a new page. Text that would run past the right edge continues
// on the next line. A new page is begun only for a line that goes on it.
std::vector<PrintedLine> layoutLines(const QStringList& lines, int fontHeight, int pageWidth,
                                     int pageHeight,
                                     const std::function<int(QStringView)>& textWidth);

// Prints `lines` on `printer` in `font` with the rules above; the job is
// ended also when printing fails. False, with `error` set, on failure.
bool printLines(QPrinter& printer, const QStringList& lines, const QFont& font, QString* error);
