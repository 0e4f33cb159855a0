#include "print/emission_report_print.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <algorithm>
#include <numeric>

#include "platform/seams.h"
#include "print/printer_setup.h"

namespace {

using emissions::Exceedance;
using emissions::ReportTableRow;

QColor judgementColor(bool valid, Exceedance e) {
  if (!valid) return QColor(0x70, 0x70, 0x70);
  if (e == Exceedance::Alarm) return QColor(0xC0, 0, 0);
  if (e == Exceedance::PreAlarm) return QColor(0xA0, 0x60, 0);
  return Qt::black;
}

// A table as the page lays it out: its columns' left edges and how each cell
// is coloured and aligned.
struct Table {
  QStringList headers;
  const QVector<ReportTableRow>* rows = nullptr;
  QVector<int> x;                 // left edges, and the right edge last
  QVector<int> judged;            // the component a column's colour follows, -1 none
  QVector<bool> left;             // a column of text, not of numbers
  bool main = false;              // the report's own table, not a section
};

QVector<int> columnEdges(const QVector<double>& shares, int columns, const QRect& area) {
  QVector<double> s = shares;
  while (s.size() < columns) s.append(1.0 / std::max(columns, 1));
  const double sum = std::accumulate(s.begin(), s.begin() + columns, 0.0);
  const double scale = sum > 1 ? 1 / sum : 1;
  QVector<int> x{area.left()};
  for (int c = 0; c < columns; ++c) x.append(x.last() + int(area.width() * s[c] * scale));
  return x;
}

bool looksNumeric(const QString& text) {
  static const QRegularExpression numeric(QStringLiteral(u"^[-—+0-9 ,.:/%–]*$"));
  return numeric.match(text).hasMatch();
}

// The report's own table: its period on the left, the figures and verdicts
// on the right. A section's column is of text when any of its cells is.
QVector<bool> leftColumns(const QVector<ReportTableRow>& rows, int columns, bool main) {
  QVector<bool> left(columns, false);
  if (columns > 0) left[0] = true;
  if (main) return left;
  for (const ReportTableRow& r : rows)
    for (int c = 1; c < columns && c < r.cells.size(); ++c)
      if (!looksNumeric(r.cells[c])) left[c] = true;
  return left;
}

// Lays the report out on pages; draws it when `painter` is given, else only
// counts the pages.
class Layout {
 public:
  Layout(QPrinter& printer, QPainter* painter, const emissions::ReportTable& table, int pageCount)
      : printer_(printer), p_(painter), table_(table), pageCount_(pageCount) {
    const QRect page(0, 0, printer.width(), printer.height());
    const int margin = page.width() / 40;
    area_ = page.adjusted(margin, margin, -margin, -margin);
    font_ = QFont(QStringLiteral("Liberation Sans"));
    font_.setStyleHint(QFont::SansSerif);
    font_.setPointSizeF(8);
    bold_ = font_;
    bold_.setBold(true);
    titleFont_ = font_;
    titleFont_.setPointSizeF(13);
    titleFont_.setBold(true);
    const QFontMetrics fm(font_, &printer);
    lineHeight_ = fm.height();
    rowHeight_ = lineHeight_ * 4 / 3;
    // The audit trail's state takes a line of its own above the foot.
    bottom_ = area_.bottom() - lineHeight_ * (table_.trailNote.isEmpty() ? 2 : 3);
    y_ = area_.top();
  }

  bool run(QString* error) {
    head();
    Table main;
    main.headers = table_.headers;
    main.rows = &table_.rows;
    main.x = columnEdges(table_.shares, int(table_.headers.size()), area_);
    main.judged = table_.judgedComponent;
    main.main = true;
    main.left = leftColumns(table_.rows, int(main.headers.size()), true);
    if (!drawTable(main, QString())) return fail(error);
    for (const emissions::ReportSection& s : table_.sections) {
      Table t;
      t.headers = s.headers;
      t.rows = &s.rows;
      t.x = columnEdges(s.shares, int(s.headers.size()), area_);
      t.left = leftColumns(s.rows, int(s.headers.size()), false);
      y_ += rowHeight_ / 2;
      if (!drawTable(t, s.heading)) return fail(error);
    }
    QStringList tail;
    tail << QStringLiteral(u"Превышения и предупреждения:") << table_.exceedances;
    if (!table_.sections.isEmpty()) y_ += rowHeight_ / 2;
    if (!lines(tail)) return fail(error);
    if (!table_.closing.isEmpty()) {
      y_ += rowHeight_ / 2;
      if (!lines(table_.closing, false)) return fail(error);
    }
    foot();
    return true;
  }

  int pages() const { return pageNo_; }

 private:
  bool fail(QString* error) {
    if (error) *error = kNewPageText;
    return false;
  }

  bool fits(int height) const { return y_ + height <= bottom_; }

  bool newPage() {
    foot();
    if (p_ && !printer_.newPage()) return false;
    ++pageNo_;
    y_ = area_.top();
    return true;
  }

  void foot() {
    if (!p_) return;
    p_->setFont(font_);
    p_->setPen(Qt::black);
    const QRect foot(area_.left(), area_.bottom() - lineHeight_, area_.width(), lineHeight_);
    p_->drawText(foot, Qt::AlignLeft | Qt::AlignVCenter,
                 QStringLiteral(u"Korvex · %1 · напечатано %2")
                     .arg(table_.title, seams::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"))));
    p_->drawText(foot, Qt::AlignRight | Qt::AlignVCenter,
                 QStringLiteral(u"Стр. %1 из %2").arg(pageNo_).arg(pageCount_));
    if (!table_.trailNote.isEmpty())
      p_->drawText(foot.translated(0, -lineHeight_), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(font_, &printer_).elidedText(table_.trailNote, Qt::ElideRight, area_.width()));
  }

  // The title and the notes, wrapped to the width.
  void head() {
    const QFontMetrics fm(font_, &printer_), titleFm(titleFont_, &printer_);
    if (p_) {
      p_->setFont(titleFont_);
      p_->setPen(Qt::black);
      p_->drawText(QRect(area_.left(), y_, area_.width(), titleFm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   table_.title);
    }
    y_ += titleFm.height() + lineHeight_ / 2;
    for (const QString& note : table_.notes) {
      const QRect r = fm.boundingRect(QRect(0, 0, area_.width(), 10 * area_.height()), Qt::TextWordWrap, note);
      if (p_) {
        p_->setFont(font_);
        p_->drawText(QRect(area_.left(), y_, area_.width(), r.height()), Qt::TextWordWrap, note);
      }
      y_ += r.height() + lineHeight_ / 4;
    }
    y_ += lineHeight_ / 2;
  }

  void row(const Table& t, const QStringList& cells, bool heading, const ReportTableRow* r) {
    if (p_) {
      const bool emphasized = heading || (r && r->day);
      const QRect band(area_.left(), y_, t.x.last() - area_.left(), rowHeight_);
      if (emphasized) p_->fillRect(band, heading ? QColor(0xD8, 0xD8, 0xD8) : QColor(0xEE, 0xEE, 0xEE));
      p_->setFont(emphasized ? bold_ : font_);
      const QFontMetrics fm(emphasized ? bold_ : font_, &printer_);
      for (int c = 0; c + 1 < t.x.size() && c < cells.size(); ++c) {
        QColor color = Qt::black;
        if (r && t.main) {
          const int k = t.judged.value(c, -1);
          if (k >= 0) color = judgementColor(r->valid[size_t(k)], r->exceedances[size_t(k)]);
        } else if (r && !r->valid[0]) {
          color = QColor(0xC0, 0, 0);  // a summary line that calls for action
        }
        p_->setPen(color);
        const QRect cell(t.x[c] + lineHeight_ / 4, y_, t.x[c + 1] - t.x[c] - lineHeight_ / 2, rowHeight_);
        const bool left = t.left.value(c, false);
        p_->drawText(cell, (left ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                     fm.elidedText(cells[c], Qt::ElideRight, cell.width()));
      }
      p_->setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 0));
      p_->drawLine(area_.left(), y_ + rowHeight_, t.x.last(), y_ + rowHeight_);
    }
    y_ += rowHeight_;
  }

  // A heading line (if any), the columns' headings, the rows; the headings
  // again at the top of every page. A table starts on a new page unless its
  // heading, headings and first row fit.
  bool drawTable(const Table& t, const QString& heading) {
    const int start = (heading.isEmpty() ? 0 : rowHeight_) + rowHeight_ * 2;
    if (!fits(start) && !newPage()) return false;
    if (!heading.isEmpty()) text(heading, true);
    row(t, t.headers, true, nullptr);
    for (const ReportTableRow& r : *t.rows) {
      if (!fits(rowHeight_)) {
        if (!newPage()) return false;
        row(t, t.headers, true, nullptr);
      }
      row(t, r.cells, false, &r);
    }
    return true;
  }

  void text(const QString& line, bool bold) {
    if (p_) {
      p_->setFont(bold ? bold_ : font_);
      p_->setPen(Qt::black);
      const QFontMetrics fm(bold ? bold_ : font_, &printer_);
      p_->drawText(QRect(area_.left(), y_, area_.width(), rowHeight_), Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(line, Qt::ElideRight, area_.width()));
    }
    y_ += rowHeight_;
  }

  // Lines of text, the first bold when `headed`; the first two kept together.
  bool lines(const QStringList& all, bool headed = true) {
    if (!fits(rowHeight_ * std::min<int>(int(all.size()), 2)) && !newPage()) return false;
    for (int i = 0; i < all.size(); ++i) {
      if (!fits(rowHeight_) && !newPage()) return false;
      text(all[i], headed && i == 0);
    }
    return true;
  }

  QPrinter& printer_;
  QPainter* p_;
  const emissions::ReportTable& table_;
  int pageCount_;
  QRect area_;
  QFont font_, bold_, titleFont_;
  int lineHeight_ = 0, rowHeight_ = 0, bottom_ = 0, y_ = 0;
  int pageNo_ = 1;
};

}  // namespace

bool printEmissionReport(QPrinter& printer, const emissions::ReportTable& table, QString* error, int* pages) {
  if (!printerReady(printer, error)) return false;
  PrintJobScope scope(printer);
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setDocName(table.title);
  QPainter painter;
  if (!painter.begin(&printer)) {
    if (error) *error = printStartError(printer);
    return false;
  }
  // Counted first, so that every page can say how many there are.
  Layout count(printer, nullptr, table, 0);
  count.run(nullptr);
  Layout layout(printer, &painter, table, count.pages());
  bool ok = layout.run(error);
  painter.end();
  if (ok && (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted)) {
    if (error) *error = kPrintFailedText;
    ok = false;
  }
  if (pages) *pages = layout.pages();
  return ok;
}
