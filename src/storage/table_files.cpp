#include "storage/table_files.h"

#include <QFile>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/platform_seams.h"
#include "storage/atomic_file.h"
#include "storage/text_codec.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

namespace {

constexpr int kCells = ResultsTable::kColumnCount;
constexpr int kFirstValueColumn = 3;  // Tg; columns 3..14 are the curves in channel order
constexpr qint64 kReadChunk = qint64(1) << 20;

// Byte tables of Windows-1251 built once from the codec, so that a day's table
// is converted row by row straight between the table's UTF-8 and the file's
// bytes.
struct Cp1251Maps {
  char utf8[256][3];
  uint8_t utf8Length[256];
  std::vector<uint8_t> byteOf;  // code point -> byte, 0 where there is none

  Cp1251Maps() {
    for (int b = 0; b < 256; ++b) {
      const char byte = char(b);
      const QString decoded = cp1251::Decode(&byte, 1);
      char32_t u = decoded.isEmpty() ? 0xFFFD : decoded.at(0).unicode();
      // 0x98 is the one byte the code page leaves undefined. It passes through
      // as the control character of the same number, so every file the
      // program reads can be written back byte for byte.
      if (u == 0xFFFD) u = char32_t(b);
      if (u < 0x80) {
        utf8[b][0] = char(u);
        utf8Length[b] = 1;
      } else if (u < 0x800) {
        utf8[b][0] = char(0xC0 | (u >> 6));
        utf8[b][1] = char(0x80 | (u & 0x3F));
        utf8Length[b] = 2;
      } else {
        utf8[b][0] = char(0xE0 | (u >> 12));
        utf8[b][1] = char(0x80 | ((u >> 6) & 0x3F));
        utf8[b][2] = char(0x80 | (u & 0x3F));
        utf8Length[b] = 3;
      }
      if (b >= 0x80) {
        if (byteOf.size() <= u) byteOf.resize(size_t(u) + 1, 0);
        byteOf[u] = uint8_t(b);
      }
    }
  }
};

const Cp1251Maps& Maps() {
  static const Cp1251Maps maps;
  return maps;
}

// Appends one row's UTF-8 text as Windows-1251 with its 16 TABs and CR LF.
// False when a character has no Windows-1251 form.
bool EncodeRow(std::string_view text, const Cp1251Maps& m, char*& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = s + text.size();
  char* p = out;
  int tabs = 0;
  while (s < end) {
    const unsigned char b = *s;
    if (b < 0x80) {
      *p++ = char(b);
      ++s;
      if (b == '\t' && ++tabs == kCells) break;
      continue;
    }
    char32_t u;
    if (b >= 0xC2 && b <= 0xDF && end - s >= 2 && (s[1] & 0xC0) == 0x80) {
      u = char32_t((b & 0x1F) << 6 | (s[1] & 0x3F));
      s += 2;
    } else if (b >= 0xE0 && b <= 0xEF && end - s >= 3 && (s[1] & 0xC0) == 0x80 &&
               (s[2] & 0xC0) == 0x80) {
      u = char32_t((b & 0x0F) << 12 | (s[1] & 0x3F) << 6 | (s[2] & 0x3F));
      s += 3;
    } else {
      return false;  // outside the code page's range, or not UTF-8 at all
    }
    if (u >= m.byteOf.size() || m.byteOf[u] == 0) return false;
    *p++ = char(m.byteOf[u]);
  }
  for (; tabs < kCells; ++tabs) *p++ = '\t';
  *p++ = '\r';
  *p++ = '\n';
  out = p;
  return true;
}

// The table's UTF-8 form of file bytes.
std::string_view DecodeToUtf8(std::string_view bytes, const Cp1251Maps& m, std::string& buffer) {
  if (buffer.size() < bytes.size() * 3) buffer.resize(bytes.size() * 3);
  char* p = buffer.data();
  for (const char c : bytes) {
    const auto b = uint8_t(c);
    if (b < 0x80) {
      *p++ = c;
    } else {
      std::memcpy(p, m.utf8[b], m.utf8Length[b]);
      p += m.utf8Length[b];
    }
  }
  return std::string_view(buffer.data(), size_t(p - buffer.data()));
}

// The locale's decimal separator when it is one of the two a cell may hold
// (anything else can never match, so only whole numbers convert).
char LocaleSeparator() {
  const QString point = seams::Locale().decimalPoint();
  if (point == QLatin1String(",")) return ',';
  if (point == QLatin1String(".")) return '.';
  return 0;
}

bool IsNumberChar(unsigned char c) {
  return (c >= '0' && c <= '9') || c == ' ' || c == ',' || c == '.';
}

// The value of a numeric cell given as bytes; false when the text is made of
// number characters but is no number in the locale's notation.
bool CellValue(std::string_view text, char separator, double& value) {
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
    if (!IsNumberChar(uint8_t(c))) {
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

// Takes the lines of a data file one at a time into table and chart.
class LineLoader {
 public:
  LineLoader(ResultsTable& table, TrendChart& chart, TableLoadResult& result)
      : table_(table), chart_(chart), result_(result), maps_(Maps()), separator_(LocaleSeparator()) {}

  bool Take(std::string_view line) {
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

    if (row_ > 0) {
      // The row of an empty table: nothing to load and nothing wrong.
      if (count == kCells && cells.size() == size_t(kCells - 1)) return true;
      for (int i = 0; i < kChannelCount; ++i) {
        const int col = kFirstValueColumn + i;
        if (!CellValue(col < count ? fields[col] : std::string_view(), separator_, values_[i]))
          return false;
      }
    }
    table_.SetRowCount(row_ + 1);
    table_.SetRowText(row_, DecodeToUtf8(cells, maps_, buffer_));
    if (row_ > 0) {
      for (int i = 0; i < kChannelCount; ++i) chart_.AppendValue(i, values_[i]);
      ++result_.pointsLoaded;
    }
    ++row_;
    ++result_.linesLoaded;
    return true;
  }

 private:
  ResultsTable& table_;
  TrendChart& chart_;
  TableLoadResult& result_;
  const Cp1251Maps& maps_;
  const char separator_;
  int row_ = 0;
  double values_[kChannelCount] = {};
  std::string buffer_;
};

// Reads the file chunk by chunk and hands each line to the loader; false at
// the first read error or rejected line.
bool ReadLines(QFile& file, LineLoader& loader) {
  std::string pending;  // a line cut by the end of a chunk
  std::vector<char> chunk(static_cast<size_t>(kReadChunk));
  for (;;) {
    const qint64 n = file.read(chunk.data(), kReadChunk);
    if (n < 0) return false;
    if (n == 0) return pending.empty() || loader.Take(pending);
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
        taken = loader.Take(std::string_view(p, size_t(newline - p)));
      } else {
        pending.append(p, newline);
        taken = loader.Take(pending);
        pending.clear();
      }
      if (!taken) return false;
      p = newline + 1;
    }
  }
}

}  // namespace

std::optional<QByteArray> TableFileBytes(const ResultsTable& table, QString* error) {
  const Cp1251Maps& m = Maps();
  const int rows = table.RowCount();
  // Windows-1251 never takes more bytes than UTF-8.
  size_t bound = 0;
  for (int r = 0; r < rows; ++r) bound += table.RowText(r).size() + kCells + 2;
  QByteArray bytes(qsizetype(bound), Qt::Uninitialized);
  char* p = bytes.data();
  for (int r = 0; r < rows; ++r) {
    if (!EncodeRow(table.RowText(r), m, p)) {
      if (error)
        *error = QStringLiteral("row %1 holds text without a Windows-1251 form").arg(r);
      return std::nullopt;
    }
  }
  bytes.truncate(qsizetype(p - bytes.data()));
  return bytes;
}

bool WriteTableFile(const ResultsTable& table, const QString& path, QString* error) {
  const auto bytes = TableFileBytes(table, error);
  return bytes && WriteFileAtomically(path, *bytes, error);
}

double StrToValue(const QString& text, bool* ok) {
  std::string latin;
  latin.reserve(size_t(text.size()));
  for (const QChar c : text) {
    if (c.unicode() > 0x7F || !IsNumberChar(uint8_t(c.unicode()))) {
      if (ok) *ok = true;
      return 0;
    }
    latin.push_back(char(c.unicode()));
  }
  double value = 0;
  const bool converted = CellValue(latin, LocaleSeparator(), value);
  if (ok) *ok = converted;
  return converted ? value : 0;
}

TableLoadResult LoadTableFile(const QString& path, ResultsTable& table, TrendChart& chart) {
  TableLoadResult result;
  QFile file(path);
  table.BeginUpdate();
  if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    LineLoader loader(table, chart, result);
    result.ok = ReadLines(file, loader);
  } else {
    result.ok = false;
  }
  // The next result goes into row 1 when row 1 is empty; a file of the header
  // alone must leave that row, or the header would be overwritten.
  if (table.RowCount() < 2) table.SetRowCount(2);
  table.EndUpdate();
  return result;
}
