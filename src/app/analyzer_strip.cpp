#include "app/analyzer_strip.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>

AnalyzerStrip::AnalyzerStrip(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("AnalyzerStrip"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLabel(QStringLiteral(u"Анализатор:"), this));
  selector_ = new QComboBox(this);
  selector_->setObjectName(QStringLiteral("AnalyzerSelector"));
  row->addWidget(selector_);
  tilesRow_ = new QHBoxLayout;
  row->addLayout(tilesRow_, 1);
  connect(selector_, qOverload<int>(&QComboBox::activated), this, &AnalyzerStrip::select);
  setVisible(false);
}

void AnalyzerStrip::setAnalyzers(const QStringList& titles) {
  for (Tile& t : tiles_) delete t.button;
  tiles_.clear();
  selector_->clear();
  for (int i = 0; i < titles.size(); ++i) {
    Tile t;
    t.title = titles[i];
    t.button = new QToolButton(this);
    t.button->setObjectName(QStringLiteral("AnalyzerTile%1").arg(i + 1));
    t.button->setCheckable(true);
    t.button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    t.button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    connect(t.button, &QToolButton::clicked, this, [this, i] { select(i); });
    tilesRow_->addWidget(t.button);
    tiles_.push_back(t);
    selector_->addItem(titles[i]);
    showTile(i);
  }
  selected_ = 0;
  if (!tiles_.empty()) tiles_[0].button->setChecked(true);
  setVisible(tiles_.size() > 1);
}

void AnalyzerStrip::select(int index) {
  if (index < 0 || index >= count()) return;
  for (int i = 0; i < count(); ++i) tiles_[size_t(i)].button->setChecked(i == index);
  selector_->setCurrentIndex(index);
  if (index == selected_) return;
  selected_ = index;
  emit selectedChanged(index);
}

void AnalyzerStrip::setState(int index, const QString& text) {
  if (index < 0 || index >= count()) return;
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  tiles_[size_t(index)].state = shown;
  showTile(index);
}

void AnalyzerStrip::setLinkAlarm(int index, bool alarm) {
  if (index < 0 || index >= count()) return;
  tiles_[size_t(index)].linkAlarm = alarm;
  showTile(index);
}

void AnalyzerStrip::setEmissionAlarm(int index, bool alarm) {
  if (index < 0 || index >= count()) return;
  tiles_[size_t(index)].emissionAlarm = alarm;
  showTile(index);
}

void AnalyzerStrip::setLastResult(int index, const QDateTime& at) {
  if (index < 0 || index >= count()) return;
  tiles_[size_t(index)].lastResult = at;
  showTile(index);
}

void AnalyzerStrip::showTile(int index) {
  Tile& t = tiles_[size_t(index)];
  const QString last = t.lastResult.isValid() ? t.lastResult.toString(QStringLiteral("hh:mm:ss")) : QStringLiteral("—");
  const QString state = t.linkAlarm ? QStringLiteral(u"Прибор не отвечает") : t.state;
  const QString text = QStringLiteral(u"%1\n%2\nРезультат: %3").arg(t.title, state, last);
  if (text != t.shownText) {
    t.shownText = text;
    t.button->setText(text);
  }
  // The lamp: red while the analyzer does not answer, yellow with an alarm latched.
  const int lampState = t.linkAlarm ? 2 : t.emissionAlarm ? 1 : 0;
  if (lampState == t.shownLamp) return;
  t.shownLamp = lampState;
  const QColor lamp = t.linkAlarm ? QColor(0xd0, 0, 0) : t.emissionAlarm ? QColor(0xe0, 0xb0, 0) : QColor(0, 0xa0, 0);
  QPixmap pixmap(14, 14);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(lamp.darker(150));
  painter.setBrush(lamp);
  painter.drawEllipse(1, 1, 12, 12);
  painter.end();
  t.button->setIcon(QIcon(pixmap));
  t.button->setToolTip(t.linkAlarm ? QStringLiteral(u"Прибор не отвечает")
                       : t.emissionAlarm ? QStringLiteral(u"Превышение норматива выбросов")
                                         : QString());
}
