#pragma once
// The daily measurement log and the measurement data files share one layout:
// Windows-1251 text, one line per table row starting with the header row,
// each of the 16 cells followed by a TAB, lines ended by CR LF.

#include <QByteArray>
#include <QString>
#include <optional>

class ResultsTable;
class TrendChart;

// The file's bytes for the whole table; nullopt (and `error` set) when a cell
// has a character without a Windows-1251 form.
std::optional<QByteArray> TableFileBytes(const ResultsTable& table, QString* error = nullptr);

// Writes the table to `path` by atomic replace: on failure any earlier file of
// that name is left as it was.
bool WriteTableFile(const ResultsTable& table, const QString& path, QString* error = nullptr);

// A numeric cell of a data file. Text made only of digits, blanks and the two
// separators is a decimal number in the locale's notation (`ok` false when it
// is not one: empty, blanks only, the other separator, two separators, blanks
// between digits); any other text is 0.
double StrToValue(const QString& text, bool* ok);

struct TableLoadResult {
  bool ok = true;      // false: stopped at a line that could not be read
  int linesLoaded = 0; // lines taken into the table, the header line included
  int pointsLoaded = 0;  // points appended to each curve
};

// Reads a data file into the (cleared) table and chart: line r into row r,
// and for r > 0 columns 3..14 as one point per curve. Stops at the first
// failure, keeping the rows and points read before it; the line that failed
// leaves no row and no point, so row i + 1 always holds point i. A line of 16
// empty cells (an empty table's row) is passed over. The table always ends
// with at least a header row and a row 1 (empty when the file had no data),
// where the next result goes. The chart is not redrawn.
TableLoadResult LoadTableFile(const QString& path, ResultsTable& table, TrendChart& chart);
