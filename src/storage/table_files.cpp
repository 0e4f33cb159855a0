#include "storage/table_files.h"

#include <QFile>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "data/results_log.h"
#include "platform/seams.h"
#include "platform/text_codec.h"
#include "storage/atomic_file.h"
#include "storage/settings_files.h"

namespace {

constexpr int kCells = kResultColumnCount;
// Small enough that the allocator gives it back: the rows keep no more than
// their values, and a buffer of a megabyte left behind was 12 bytes a row
// of a day's file.
constexpr qint64 kReadChunk = qint64(1) << 16;

// The locale's decimal separator when it is one of the two a cell may hold
// (anything else can never match, so only whole numbers convert).
char localeSeparator() {
  const QString point = seams::locale().decimalPoint();
  if (point == QLatin1String(",")) return ',';
  if (point == QLatin1String(".")) return '.';
  return 0;
}

bool isNumberChar(unsigned char c) {
  return (c >= '0' && c <= '9') || c == ' ' || c == ',' || c == '.';
}

// The value of a numeric cell given as bytes; false when the text is made of
// number characters but is no number in the locale's notation.
bool cellValue(std::string_view text, char separator, double& value) {
  // The usual cell, such as "185" or "10,95": at most 15 digits, so the digits
  // and the power of ten are exact doubles and one division rounds correctly,
  // giving what the general conversion below gives.
  static constexpr double kPowerOfTen[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  uint64_t mantissa = 0;
  int digitCount = 0, fractionDigits = -1;
  bool plain = true;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      mantissa = mantissa * 10 + uint64_t(c - '0');
      ++digitCount;
      if (fractionDigits >= 0) ++fractionDigits;
    } else if (c == separator && separator != 0 && fractionDigits < 0) {
      fractionDigits = 0;
    } else {
      plain = false;
      break;
    }
  }
  if (plain && digitCount > 0 && digitCount <= 15) {
    value = double(mantissa);
    if (fractionDigits > 0) value /= kPowerOfTen[fractionDigits];
    return true;
  }

  for (const char c : text) {
    if (!isNumberChar(uint8_t(c))) {
      value = 0;  // a marker, a sign, a letter, an exponent
      return true;
    }
  }
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;

  char local[64];
  std::string heap;
  char* digits = local;
  if (end - begin > sizeof local) {
    heap.resize(end - begin);
    digits = heap.data();
  }
  size_t length = 0;
  bool seenDigit = false, seenSeparator = false;
  for (size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      seenDigit = true;
      digits[length++] = c;
    } else if (separator != 0 && c == separator && !seenSeparator) {
      seenSeparator = true;
      digits[length++] = '.';
    } else {
      return false;  // a blank between digits, the other separator, a second separator
    }
  }
  if (!seenDigit) return false;
  const auto [ptr, ec] = std::from_chars(digits, digits + length, value);
  return ec == std::errc() && ptr == digits + length;
}

// Takes the lines of a data file one at a time into the log.
class LineLoader {
 public:
  LineLoader(ResultsLog& log, TableLoadResult& result)
      : log_(log), result_(result), separator_(localeSeparator()) {}

  bool take(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // The fields: every run of characters ended by a TAB, at most 16;
    // whatever follows the last TAB is no field.
    std::string_view fields[kCells];
    int count = 0;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] != '\t') continue;
      fields[count++] = line.substr(start, i - start);
      start = i + 1;
      if (count == kCells) break;
    }
    const std::string_view cells = count ? line.substr(0, start - 1) : std::string_view();

    if (first_) {
      log_.setHeaderCells(cells, count);
      first_ = false;
    } else {
      // The row of an empty table: nothing to load and nothing wrong.
      if (count == kCells && cells.size() == size_t(kCells - 1)) return true;
      ChannelValues values;
      for (int i = 0; i < kChannelCount; ++i) {
        const int col = kFirstValueColumn + i;
        if (!cellValue(col < count ? fields[col] : std::string_view(), separator_, values[size_t(i)]))
          return false;
      }
      log_.appendLoaded(values, cells, fields, count);
      ++result_.pointsLoaded;
    }
    ++result_.linesLoaded;
    return true;
  }

 private:
  ResultsLog& log_;
  TableLoadResult& result_;
  const char separator_;
  bool first_ = true;
};

// Reads the file chunk by chunk and hands each line to the loader; false at
// the first read error or rejected line.
bool readLines(QFile& file, LineLoader& loader) {
  std::string pending;  // a line cut by the end of a chunk
  std::vector<char> chunk(static_cast<size_t>(kReadChunk));
  for (;;) {
    const qint64 n = file.read(chunk.data(), kReadChunk);
    if (n < 0) return false;
    if (n == 0) return pending.empty() || loader.take(pending);
    const char* p = chunk.data();
    const char* const end = p + n;
    for (;;) {
      const auto* newline = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
      if (!newline) {
        pending.append(p, end);
        break;
      }
      bool taken;
      if (pending.empty()) {
        taken = loader.take(std::string_view(p, size_t(newline - p)));
      } else {
        pending.append(p, newline);
        taken = loader.take(pending);
        pending.clear();
      }
      if (!taken) return false;
      p = newline + 1;
    }
  }
}

}  // namespace

QString dailyLogPath(const QDate& day, int slot) {
  return pathWithoutExtension(seams::executablePath()) + QLatin1Char('-') +
         day.toString(QStringLiteral("yy-MM-dd")) + (slot > 1 ? QStringLiteral("-%1").arg(slot) : QString()) +
         QStringLiteral(".ask");
}

QString dataFilePath(const QDate& day) {
  return pathWithoutExtension(seams::executablePath()) + QLatin1Char('-') +
         day.toString(QStringLiteral("yy-MM-dd")) + QStringLiteral(".kvx");
}

std::optional<QByteArray> tableFileBytes(const ResultsLog& log, QString* error) {
  QByteArray bytes;
  // Cells are followed by TABs up to 16 in all, then CR LF.
  const auto endLine = [&bytes](std::string_view cells) {
    int tabs = 0;
    for (const char c : cells) tabs += c == '\t';
    bytes.append(kCells - tabs, '\t');
    bytes.append("\r\n", 2);
  };
  std::string header;
  for (int c = 0; c < kCells; ++c) {
    if (c) header.push_back('\t');
    header += log.headerBytes(c);
  }
  bytes.append(header.data(), qsizetype(header.size()));
  endLine(header);

  const int loaded = log.loadedCount();
  std::string cells;
  for (int r = 0; r < loaded; ++r) {
    cells.clear();
    log.appendLoadedCells(r, cells);
    bytes.append(cells.data(), qsizetype(cells.size()));
    endLine(cells);
  }

  // The taken results as one text, converted at once.
  const ResultTexts texts;
  QString text;
  text.reserve(qsizetype(log.count() - loaded) * 96);
  for (int r = loaded; r < log.count(); ++r) {
    texts.appendRow(text, log.values(r), log.faultBits(r), log.dateTime(r), r);
    text += QLatin1String("\r\n");
  }
  if (!text.isEmpty()) {
    const auto encoded = cp1251::encode(text);
    if (!encoded) {
      if (error) *error = QStringLiteral("a result's text has no Windows-1251 form");
      return std::nullopt;
    }
    bytes += *encoded;
  }
  if (log.isEmpty()) endLine({});
  return bytes;
}

bool writeTableFile(const ResultsLog& log, const QString& path, QString* error) {
  const auto bytes = tableFileBytes(log, error);
  return bytes && writeFileAtomically(path, *bytes, error);
}

double strToValue(const QString& text, bool* ok) {
  std::string latin;
  latin.reserve(size_t(text.size()));
  for (const QChar c : text) {
    if (c.unicode() > 0x7F || !isNumberChar(uint8_t(c.unicode()))) {
      if (ok) *ok = true;
      return 0;
    }
    latin.push_back(char(c.unicode()));
  }
  double value = 0;
  const bool converted = cellValue(latin, localeSeparator(), value);
  if (ok) *ok = converted;
  return converted ? value : 0;
}

TableLoadResult loadTableFile(const QString& path, ResultsLog& log) {
  TableLoadResult result;
  QFile file(path);
  log.beginLoad();
  if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    LineLoader loader(log, result);
    result.ok = readLines(file, loader);
  } else {
    result.ok = false;
  }
  log.endLoad();
  return result;
}
