#pragma once
// The daily measurement log and the measurement data files share one layout:
// Windows-1251 text, one line per row starting with the header row, each of
// the 16 cells followed by a TAB, lines ended by CR LF. Written from the
// results log and read back into it.

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>

class ResultsLog;

// The daily log of `day`: the executable's path without its extension, "-",
// "yy-MM-dd", ".ask" (a further analyzer of the line adds "-<slot>"); and the
// data file proposed for saving on `day` (".kvx").
QString dailyLogPath(const QDate& day, int slot = 1);
QString dataFilePath(const QDate& day);

// The file's bytes for the whole log (an empty log gives the header and one
// line of 16 TABs); nullopt, with `error` set, when a text has no
// Windows-1251 form.
std::optional<QByteArray> tableFileBytes(const ResultsLog& log, QString* error = nullptr);

// Writes the log to `path` by atomic replace: on failure any earlier file of
// that name is left as it was.
bool writeTableFile(const ResultsLog& log, const QString& path, QString* error = nullptr);

// A numeric cell of a data file. Text made only of digits, blanks and the two
// separators is a decimal number in the locale's notation (`ok` false when it
// is not one: empty, blanks only, the other separator, two separators, blanks
// between digits); any other text is 0.
double strToValue(const QString& text, bool* ok);

struct TableLoadResult {
  bool ok = true;         // false: stopped at a line that could not be read
  int linesLoaded = 0;    // lines taken, the header line included
  int pointsLoaded = 0;   // result rows taken
};

// Reads a data file into the log, replacing what it held: the cells of the
// first line become the headings of their columns (a short first line leaves
// the others as they were), every further line a row whose columns 3..14 are
// its values. Stops at the first failure, keeping the rows read before it; the
// line that failed leaves nothing behind. A line of 16 empty cells (an empty
// table's row) is passed over.
TableLoadResult loadTableFile(const QString& path, ResultsLog& log);
