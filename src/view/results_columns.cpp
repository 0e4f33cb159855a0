#include "view/results_columns.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QFontMetricsF>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QtMath>
#include <algorithm>
#include <array>

namespace {

QChar widestDigit(const QFontMetricsF& metrics) {
  QChar widest = QLatin1Char('0');
  for (char c = '1'; c <= '9'; ++c)
    if (metrics.horizontalAdvance(QLatin1Char(c)) > metrics.horizontalAdvance(widest)) widest = QLatin1Char(c);
  return widest;
}

// The width of a cell that shows `text` whole: what the style asks for an
// item (the text and its margins), and never less than the text measured in
// the view's font with the margins the style draws it within.
int cellWidth(const QTableView& view, const QString& text) {
  QStyleOptionViewItem option;
  option.initFrom(&view);
  option.font = view.font();
  option.fontMetrics = QFontMetrics(view.font());
  option.features = QStyleOptionViewItem::HasDisplay;
  option.text = text;
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  option.textElideMode = view.textElideMode();
  option.decorationPosition = QStyleOptionViewItem::Left;
  const QStyle* style = view.style();
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
  // Character by character too: kerning may make a text with other digits
  // wider than the one measured.
  const QFontMetricsF metrics(view.font());
  qreal characters = 0;
  for (const QChar c : text) characters += metrics.horizontalAdvance(c);
  const int measured = qCeil(std::max(metrics.horizontalAdvance(text), characters)) + 2 * margin;
  return std::max(style->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), &view).width(), measured);
}

// Fits the columns when made and whenever the view's font or style changes.
class ColumnFitter : public QObject {
 public:
  ColumnFitter(QTableView* view, const int (&minimums)[kResultColumnCount]) : QObject(view), view_(view) {
    setObjectName(kName);
    view->installEventFilter(this);
    fit(minimums);
  }

  static constexpr const char* kName = "resultColumnFitter";

  void fit(const int (&minimums)[kResultColumnCount]) {
    std::copy(std::begin(minimums), std::end(minimums), minimums_.begin());
    fit();
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == view_ && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
      fit();
    return false;
  }

 private:
  void fit() {
    const ResultTexts texts;
    for (int c = 0; c < kResultColumnCount; ++c)
      view_->setColumnWidth(c, std::max(minimums_[size_t(c)], fittingColumnWidth(*view_, texts.columnForms(c))));
    // The status column of the table's model: its widest code and its heading.
    if (view_->model() && view_->model()->columnCount() > kResultColumnCount)
      view_->setColumnWidth(kResultColumnCount,
                            fittingColumnWidth(*view_, {QStringLiteral(u"ТЕСТ"), QStringLiteral(u"Статус")}));
  }

  QTableView* view_;
  std::array<int, kResultColumnCount> minimums_{};
};

}  // namespace

int fittingColumnWidth(const QTableView& view, const QStringList& texts) {
  const QChar digit = widestDigit(QFontMetricsF(view.font()));
  int width = 0;
  for (QString text : texts) {
    for (QChar& c : text)
      if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) c = digit;
    width = std::max(width, cellWidth(view, text));
  }
  return width + (view.showGrid() ? 1 : 0);
}

void fitResultColumns(QTableView* view, const int (&minimums)[kResultColumnCount]) {
  if (auto* fitter = view->findChild<QObject*>(QLatin1String(ColumnFitter::kName), Qt::FindDirectChildrenOnly))
    static_cast<ColumnFitter*>(fitter)->fit(minimums);
  else
    new ColumnFitter(view, minimums);
}
