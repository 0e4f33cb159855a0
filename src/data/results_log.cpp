#include "data/results_log.h"

#include <QtAlgorithms>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/seams.h"
#include "platform/text_codec.h"

namespace {

// Field `column` of TAB-separated cells.
std::string_view field(std::string_view cells, int column) {
  size_t start = 0;
  for (int c = 0; c < column; ++c) {
    const size_t tab = cells.find('\t', start);
    if (tab == std::string_view::npos) return {};
    start = tab + 1;
  }
  const size_t end = cells.find('\t', start);
  return cells.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::string encoded(const QString& text) {
  const auto bytes = cp1251::encode(text);
  return bytes ? bytes->toStdString() : std::string();
}

// A loaded row's cells as bits, in the room of a taken result's date-time
// (64 bits, its form) and fault bits (32, its shapes):
//   form   0-16  the time cell's second of the day; kNoTime: kept as text
//          17    its hour has two digits
//          18-29 the date cell, an index into dates_; kNoDate: kept as text
//          30    the number cell is the row's number (else kept as text)
//          31    the fault cell is in the program's form (else kept as text)
//          32-43 its fault bits
//          44    the whole row is kept as text: not 16 cells
//          48-63 the shapes of number cells 3-6
//   shapes       the shapes of number cells 7-14
// A number cell's shape: 0 a whole number, 1-14 its count of decimals, 15
// kept as text. Kept texts of a row are joined by TABs, in column order.
constexpr uint64_t kNoTime = 0x1FFFF;
constexpr uint64_t kTwoDigitHour = uint64_t(1) << 17;
constexpr int kDateShift = 18;
constexpr uint64_t kNoDate = 0xFFF;
constexpr uint64_t kNumberIsRow = uint64_t(1) << 30;
constexpr uint64_t kFaultForm = uint64_t(1) << 31;
constexpr int kFaultShift = 32;
constexpr uint64_t kWholeRowKept = uint64_t(1) << 44;
constexpr int kShapeShift = 48;
constexpr unsigned kKeptShape = 15;
constexpr double kPowerOfTen[15] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14};

unsigned shapeOf(int ch, uint64_t form, uint32_t shapes) {
  return ch < 4 ? unsigned(form >> (kShapeShift + 4 * ch)) & 15 : unsigned(shapes >> (4 * (ch - 4))) & 15;
}

// The shape of a number cell read as `value`: plain digits, at most 15, no
// leading zero, at most one separator with 1-14 decimals after it, and read
// back as the very same double; else kept.
unsigned numberShape(std::string_view text, char separator, double value) {
  uint64_t mantissa = 0;
  int digits = 0, decimals = -1;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      mantissa = mantissa * 10 + uint64_t(c - '0');
      if (++digits > 15) return kKeptShape;
      if (decimals >= 0) ++decimals;
    } else if (c == separator && separator != 0 && decimals < 0) {
      decimals = 0;
    } else {
      return kKeptShape;
    }
  }
  const int whole = digits - std::max(decimals, 0);
  if (whole == 0 || decimals == 0 || decimals > 14 || (whole > 1 && text.front() == '0')) return kKeptShape;
  double read = double(mantissa);
  if (decimals > 0) read /= kPowerOfTen[decimals];
  if (std::memcmp(&read, &value, sizeof read) != 0) return kKeptShape;
  return decimals > 0 ? unsigned(decimals) : 0;
}

void appendNumber(double value, unsigned decimals, char separator, std::string& out) {
  uint64_t m = uint64_t(std::llround(value * kPowerOfTen[decimals]));
  char digits[24];
  int n = 0;
  do {
    digits[n++] = char('0' + m % 10);
    m /= 10;
  } while (m != 0 || n <= int(decimals));
  for (int i = n - 1; i >= 0; --i) {
    out.push_back(digits[i]);
    if (i == int(decimals) && decimals > 0) out.push_back(separator);
  }
}

bool digit(char c) { return c >= '0' && c <= '9'; }

// "H:MM:SS" or "HH:MM:SS" as the second of the day; false for another form.
bool timeForm(std::string_view t, uint64_t* form) {
  const int hourDigits = int(t.size()) - 6;
  if (hourDigits != 1 && hourDigits != 2) return false;
  const char* p = t.data();
  for (int i = 0; i < int(t.size()); ++i)
    if (i == hourDigits || i == hourDigits + 3 ? p[i] != ':' : !digit(p[i])) return false;
  const int h = hourDigits == 2 ? (p[0] - '0') * 10 + (p[1] - '0') : p[0] - '0';
  const int m = (p[hourDigits + 1] - '0') * 10 + (p[hourDigits + 2] - '0');
  const int s = (p[hourDigits + 4] - '0') * 10 + (p[hourDigits + 5] - '0');
  if (h > 23 || m > 59 || s > 59) return false;
  *form = uint64_t(h * 3600 + m * 60 + s) | (hourDigits == 2 ? kTwoDigitHour : 0);
  return true;
}

// "Ok'" for none, "E" and four upper-case hex digits for some, as the
// program writes them; false for another text.
bool faultForm(std::string_view t, uint64_t* bits) {
  if (t == "Ok'") {
    *bits = 0;
    return true;
  }
  if (t.size() != 5 || t[0] != 'E') return false;
  uint64_t v = 0;
  for (size_t i = 1; i < 5; ++i) {
    const char c = t[i];
    if (!digit(c) && !(c >= 'A' && c <= 'F')) return false;
    v = v * 16 + uint64_t(digit(c) ? c - '0' : c - 'A' + 10);
  }
  if (v == 0 || v > 0xFFF) return false;
  *bits = v;
  return true;
}

}  // namespace

ResultsLog::ResultsLog(QObject* parent) : QObject(parent) {
  for (int c = 0; c < kResultColumnCount; ++c) header_[size_t(c)] = encoded(kResultHeaders[c]);
}

ResultsLog::~ResultsLog() = default;

ChannelValues ResultsLog::values(int row) const {
  ChannelValues v;
  for (int ch = 0; ch < kChannelCount; ++ch) v[size_t(ch)] = value(row, ch);
  return v;
}

uint64_t ResultsLog::loadedForm(int row) const {
  uint64_t form;
  std::memcpy(&form, &at(row).dateTime[offset(row)], sizeof form);
  return form;
}

uint32_t ResultsLog::loadedShapes(int row) const { return uint32_t(at(row).faultBits[offset(row)]); }

std::string_view ResultsLog::keptText(int row) const {
  const size_t block = size_t(row) / 64;
  if (block >= keptBits_.size()) return {};
  const uint64_t bits = keptBits_[block];
  const int bit = row % 64;
  if (!((bits >> bit) & 1)) return {};
  // Past the texts of the rows before it in its block.
  const std::string_view text(keptText_);
  size_t begin = keptBlockStart_[block];
  for (uint32_t skip = qPopulationCount(quint64(bits & ((uint64_t(1) << bit) - 1))); skip > 0; --skip)
    begin = text.find('\n', begin) + 1;
  return text.substr(begin, text.find('\n', begin) - begin);
}

// Cell `column` of loaded row `row` to `out`; `kept` is what is left of the
// row's kept texts, from this column's on.
void ResultsLog::appendCell(int row, int column, uint64_t form, uint32_t shapes, std::string_view& kept,
                            std::string& out) const {
  const auto takeKept = [&] {
    const size_t tab = kept.find('\t');
    out.append(kept.substr(0, tab));
    kept = tab == std::string_view::npos ? std::string_view() : kept.substr(tab + 1);
  };
  switch (column) {
    case 0:
      if (form & kNumberIsRow)
        out += std::to_string(row);
      else
        takeKept();
      return;
    case 1: {
      const uint64_t date = (form >> kDateShift) & kNoDate;
      if (date == kNoDate)
        takeKept();
      else
        out += dates_[size_t(date)];
      return;
    }
    case 2: {
      const uint64_t second = form & kNoTime;
      if (second == kNoTime) {
        takeKept();
        return;
      }
      const int h = int(second / 3600), m = int(second / 60 % 60), sec = int(second % 60);
      if (form & kTwoDigitHour) out.push_back(char('0' + h / 10));
      out.push_back(char('0' + h % 10));
      out.push_back(':');
      out.push_back(char('0' + m / 10));
      out.push_back(char('0' + m % 10));
      out.push_back(':');
      out.push_back(char('0' + sec / 10));
      out.push_back(char('0' + sec % 10));
      return;
    }
    case kFaultColumn: {
      if (!(form & kFaultForm)) {
        takeKept();
        return;
      }
      const unsigned bits = unsigned(form >> kFaultShift) & 0xFFF;
      if (bits == 0) {
        out += "Ok'";
        return;
      }
      char hex[8];
      std::snprintf(hex, sizeof hex, "E%04X", bits);
      out += hex;
      return;
    }
    default: {
      const int ch = column - kFirstValueColumn;
      const unsigned shape = shapeOf(ch, form, shapes);
      if (shape == kKeptShape)
        takeKept();
      else
        appendNumber(value(row, ch), shape, separator_, out);
    }
  }
}

void ResultsLog::appendLoadedCells(int row, std::string& out) const {
  if (row < 0 || row >= loadedCount_) return;
  const uint64_t form = loadedForm(row);
  std::string_view kept = keptText(row);
  if (form & kWholeRowKept) {
    out.append(kept);
    return;
  }
  const uint32_t shapes = loadedShapes(row);
  for (int c = 0; c < kResultColumnCount; ++c) {
    if (c) out.push_back('\t');
    appendCell(row, c, form, shapes, kept, out);
  }
}

std::string ResultsLog::loadedCells(int row) const {
  std::string out;
  appendLoadedCells(row, out);
  return out;
}

QString ResultsLog::cell(int row, int column) const {
  if (row < 0 || row >= count_ || column < 0 || column >= kResultColumnCount) return {};
  if (row < loadedCount_) {
    const uint64_t form = loadedForm(row);
    std::string text;
    if (form & kWholeRowKept) {
      const std::string_view f = field(keptText(row), column);
      text.assign(f.data(), f.size());
    } else {
      // The kept texts of the columns before this one come first.
      const uint32_t shapes = loadedShapes(row);
      std::string_view kept = keptText(row);
      for (int c = 0; c <= column; ++c) {
        text.clear();
        appendCell(row, c, form, shapes, kept, text);
      }
    }
    return cp1251::decode(text.data(), qsizetype(text.size()));
  }
  return resultCell(column, values(row), faultBits(row), dateTime(row), row);
}

QStringList ResultsLog::cells(int row) const {
  QStringList out;
  out.reserve(kResultColumnCount);
  for (int c = 0; c < kResultColumnCount; ++c) out << cell(row, c);
  return out;
}

QString ResultsLog::header(int column) const {
  if (column < 0 || column >= kResultColumnCount) return {};
  const std::string& bytes = header_[size_t(column)];
  return cp1251::decode(bytes.data(), qsizetype(bytes.size()));
}

void ResultsLog::setHeaderCells(std::string_view cells, int count) {
  const int given = std::min(count, kResultColumnCount);
  for (int c = 0; c < given; ++c) header_[size_t(c)] = std::string(field(cells, c));
  if (!loading_) emit headerChanged();
}

int ResultsLog::addRow(double dateTime, int32_t faultBits, const ChannelValues& values) {
  const int row = count_;
  if (offset(row) == 0 && size_t(row >> kChunkBits) == chunks_.size())
    chunks_.push_back(std::make_unique<Chunk>());
  Chunk& c = *chunks_[size_t(row >> kChunkBits)];
  const int o = offset(row);
  c.dateTime[o] = dateTime;
  c.faultBits[o] = faultBits;
  c.status[o] = uint8_t(ResultStatus::Valid);
  for (int ch = 0; ch < kChannelCount; ++ch) c.values[ch][o] = values[size_t(ch)];
  ++count_;
  return row;
}

int ResultsLog::append(const Result& result) {
  const int row = addRow(result.localDateTime(), result.faultBits, result.values);
  chunks_[size_t(row >> kChunkBits)]->status[offset(row)] = uint8_t(result.status);
  unsaved_ = true;
  if (!loading_) emit rowsAppended(row, row);
  return row;
}

void ResultsLog::clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  count_ = 0;
  loadedCount_ = 0;
  keptBits_.clear();
  keptBits_.shrink_to_fit();
  keptBlockStart_.clear();
  keptBlockStart_.shrink_to_fit();
  keptText_.clear();
  keptText_.shrink_to_fit();
  dates_.clear();
  dates_.shrink_to_fit();
  unsaved_ = false;
  if (!loading_) emit reset();
}

void ResultsLog::beginLoad() {
  loading_ = true;
  clear();
  const QString point = seams::locale().decimalPoint();
  separator_ = point.size() == 1 && point.at(0).unicode() < 0x80 ? char(point.at(0).unicode()) : '\0';
}

void ResultsLog::appendLoaded(const ChannelValues& values, std::string_view cells) {
  std::string_view fields[kResultColumnCount];
  int count = 0;
  if (!cells.empty()) {
    size_t start = 0;
    for (;;) {
      if (count == kResultColumnCount) {
        count = kResultColumnCount + 1;  // more than a row holds: kept as it is
        break;
      }
      const size_t tab = cells.find('\t', start);
      fields[count++] = cells.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
  }
  appendLoaded(values, cells, fields, count);
}

void ResultsLog::appendLoaded(const ChannelValues& values, std::string_view cells, const std::string_view* fields,
                              int count) {
  // Loaded rows come first; a load always starts from an empty log.
  if (loadedCount_ != count_) return;
  const int row = count_;
  uint64_t form = 0;
  uint32_t shapes = 0;
  if (row % 64 == 0) {
    keptBits_.push_back(0);
    keptBlockStart_.push_back(uint32_t(keptText_.size()));
  }
  const size_t keptBefore = keptText_.size();
  if (count != kResultColumnCount) {
    form = kWholeRowKept;
    keptText_.append(cells);
  } else {
    bool anyKept = false;
    const auto keep = [&](std::string_view text) {
      if (anyKept) keptText_.push_back('\t');
      keptText_.append(text);
      anyKept = true;
    };
    // The number: the row's own, as the program numbers its rows.
    const std::string_view number = fields[0];
    bool isRow = !number.empty() && number.size() <= 10 && (number.size() == 1 || number.front() != '0');
    uint64_t n = 0;
    for (size_t i = 0; isRow && i < number.size(); ++i) {
      isRow = digit(number[i]);
      n = n * 10 + uint64_t(number[i] - '0');
    }
    if (isRow && n == uint64_t(row))
      form |= kNumberIsRow;
    else
      keep(number);
    // The date: one of the file's dates, mostly the row before's.
    uint64_t date = kNoDate;
    if (!dates_.empty() && dates_.back() == fields[1]) {
      date = dates_.size() - 1;
    } else {
      for (size_t i = dates_.size(); i-- > 0 && dates_.size() - i <= 16;)
        if (dates_[i] == fields[1]) date = i;
      if (date == kNoDate && dates_.size() < kNoDate) {
        dates_.emplace_back(fields[1]);
        date = dates_.size() - 1;
      }
    }
    form |= date << kDateShift;
    if (date == kNoDate) keep(fields[1]);
    uint64_t time = kNoTime;
    if (!timeForm(fields[2], &time)) {
      time = kNoTime;
      keep(fields[2]);
    }
    form |= time;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const std::string_view text = fields[kFirstValueColumn + ch];
      const unsigned shape = numberShape(text, separator_, values[size_t(ch)]);
      if (shape == kKeptShape) keep(text);
      if (ch < 4)
        form |= uint64_t(shape) << (kShapeShift + 4 * ch);
      else
        shapes |= uint32_t(shape) << (4 * (ch - 4));
    }
    uint64_t bits = 0;
    if (faultForm(fields[kFaultColumn], &bits))
      form |= kFaultForm | bits << kFaultShift;
    else
      keep(fields[kFaultColumn]);
  }
  if (keptText_.size() != keptBefore || (form & kWholeRowKept && !cells.empty())) {
    keptText_.push_back('\n');
    keptBits_.back() |= uint64_t(1) << (row % 64);
  }
  double dateTime;
  std::memcpy(&dateTime, &form, sizeof dateTime);
  addRow(dateTime, int32_t(shapes), values);
  ++loadedCount_;
}

void ResultsLog::endLoad() {
  loading_ = false;
  keptBits_.shrink_to_fit();
  keptBlockStart_.shrink_to_fit();
  keptText_.shrink_to_fit();
  emit headerChanged();
  emit reset();
}

size_t ResultsLog::memoryUsage() const {
  size_t bytes = sizeof(*this) + chunks_.capacity() * sizeof(void*) + chunks_.size() * sizeof(Chunk);
  bytes += keptText_.capacity() + keptBits_.capacity() * sizeof(uint64_t) +
           keptBlockStart_.capacity() * sizeof(uint32_t);
  for (const std::string& d : dates_) bytes += sizeof d + d.capacity();
  for (const std::string& h : header_) bytes += h.capacity();
  return bytes;
}
