#include "data/results_log.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

std::string_view ResultsLog::loadedCells(int row) const {
  if (row < 0 || row >= loadedCount_) return {};
  const uint32_t begin = row == 0 ? 0 : loadedEnds_[size_t(row - 1)];
  return std::string_view(loadedText_).substr(begin, loadedEnds_[size_t(row)] - begin);
}

QString ResultsLog::cell(int row, int column) const {
  if (row < 0 || row >= count_ || column < 0 || column >= kResultColumnCount) return {};
  if (row < loadedCount_) {
    const std::string_view text = field(loadedCells(row), column);
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
  for (int ch = 0; ch < kChannelCount; ++ch) c.values[ch][o] = values[size_t(ch)];
  ++count_;
  return row;
}

int ResultsLog::append(const Result& result) {
  const int row = addRow(result.localDateTime(), result.faultBits, result.values);
  unsaved_ = true;
  if (!loading_) emit rowsAppended(row, row);
  return row;
}

void ResultsLog::clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  count_ = 0;
  loadedCount_ = 0;
  loadedText_.clear();
  loadedText_.shrink_to_fit();
  loadedEnds_.clear();
  loadedEnds_.shrink_to_fit();
  unsaved_ = false;
  if (!loading_) emit reset();
}

void ResultsLog::beginLoad() {
  loading_ = true;
  clear();
}

void ResultsLog::appendLoaded(const ChannelValues& values, std::string_view cells) {
  // Loaded rows come first; a load always starts from an empty log.
  if (loadedCount_ != count_) return;
  addRow(std::numeric_limits<double>::quiet_NaN(), 0, values);
  loadedText_.append(cells);
  loadedEnds_.push_back(uint32_t(loadedText_.size()));
  ++loadedCount_;
}

void ResultsLog::endLoad() {
  loading_ = false;
  loadedEnds_.shrink_to_fit();
  emit headerChanged();
  emit reset();
}

size_t ResultsLog::memoryUsage() const {
  size_t bytes = sizeof(*this) + chunks_.capacity() * sizeof(void*) + chunks_.size() * sizeof(Chunk);
  bytes += loadedText_.capacity() + loadedEnds_.capacity() * sizeof(uint32_t);
  for (const std::string& h : header_) bytes += h.capacity();
  return bytes;
}
