#include "dialogs/dialog_controls.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "dialogs/number_text.h"

void confirmOnEnter(QComboBox* box, QPushButton* button) {
  QObject::connect(box->lineEdit(), &QLineEdit::returnPressed, button, &QPushButton::click);
}

QLabel* headingPanel(const QString& text, QWidget* parent) {
  auto* panel = new QLabel(text, parent);
  panel->setAlignment(Qt::AlignCenter);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  panel->setLineWidth(1);
  panel->setFixedHeight(22);
  QFont bold = panel->font();
  bold.setBold(true);
  panel->setFont(bold);
  return panel;
}

// ---------------------------------------------------------------------------

SpinEdit::SpinEdit(int minimum, int maximum, int maxTyped, QWidget* parent)
    : QSpinBox(parent), maxTyped_(maxTyped) {
  setRange(minimum, maximum);
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  setKeyboardTracking(false);
  setAccelerated(true);
}

bool SpinEdit::allowedCharacter(QChar c) const {
  return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
         c == QLatin1Char('-') || c == decimalSeparator();
}

int SpinEdit::typedValue() const {
  const auto v = readInt(lineEdit()->text());
  return v ? *v : minimum();
}

int SpinEdit::boundedValue() const { return qBound(minimum(), typedValue(), maximum()); }

QValidator::State SpinEdit::validate(QString& text, int&) const {
  for (QChar c : text)
    if (!allowedCharacter(c) && c != QLatin1Char(' ')) return QValidator::Invalid;
  const auto v = readInt(text);
  return v && *v >= minimum() && *v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void SpinEdit::fixup(QString& text) const {
  const auto v = readInt(text);
  text = QString::number(v ? qBound(minimum(), int(*v), maximum()) : minimum());
}

int SpinEdit::valueFromText(const QString& text) const {
  const auto v = readInt(text);
  return v ? qBound(minimum(), int(*v), maximum()) : minimum();
}

void SpinEdit::keyPressEvent(QKeyEvent* event) {
  QLineEdit* edit = lineEdit();
  const int kept = int(edit->text().size() - edit->selectedText().size());
  if (event->matches(QKeySequence::Paste)) {
    // Only as much as the field takes; the validator refuses what is no number.
    const QString pasted = QApplication::clipboard()->text().left(qMax(0, maxTyped_ - kept));
    if (!pasted.isEmpty()) edit->insert(pasted);
    event->accept();
    return;
  }
  const QString typed = event->text();
  const bool character = !typed.isEmpty() && typed.at(0).isPrint() &&
                         !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
  if (character) {
    for (QChar c : typed) {
      if (!allowedCharacter(c)) {
        event->accept();
        return;
      }
    }
    if (kept + typed.size() > maxTyped_) {
      event->accept();
      return;
    }
  }
  QSpinBox::keyPressEvent(event);
}

// ---------------------------------------------------------------------------

namespace {

struct NamedColor {
  uint32_t ref;
  const char* name;
};

const NamedColor kStandard[] = {
    {0x000000, "Black"},  {0x000080, "Maroon"}, {0x008000, "Green"},  {0x008080, "Olive"},
    {0x800000, "Navy"},   {0x800080, "Purple"}, {0x808000, "Teal"},   {0x808080, "Gray"},
    {0xC0C0C0, "Silver"}, {0x0000FF, "Red"},    {0x00FF00, "Lime"},   {0x00FFFF, "Yellow"},
    {0xFF0000, "Blue"},   {0xFF00FF, "Fuchsia"}, {0xFFFF00, "Aqua"},  {0xFFFFFF, "White"},
};

const NamedColor kExtended[] = {
    {0xC0DCC0, "Money Green"},
    {0xF0CAA6, "Sky Blue"},
    {0xF0FBFF, "Cream"},
    {0xA4A0A0, "Medium Gray"},
};

QColor toQColor(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

const QSize kSwatchSize(22, 12);

}  // namespace

QIcon colorSwatch(uint32_t colorRef, const QSize& size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(Qt::black);
  p.setBrush(toQColor(colorRef));
  p.drawRect(QRect(QPoint(0, 0), size - QSize(1, 1)));
  return QIcon(pixmap);
}

ColorBox::ColorBox(bool extended, QWidget* parent) : QComboBox(parent) {
  setIconSize(kSwatchSize);
  for (const NamedColor& c : kStandard)
    addItem(colorSwatch(c.ref, kSwatchSize), QString::fromLatin1(c.name), QVariant::fromValue(c.ref));
  if (extended)
    for (const NamedColor& c : kExtended)
      addItem(colorSwatch(c.ref, kSwatchSize), QString::fromLatin1(c.name), QVariant::fromValue(c.ref));
  setMaxVisibleItems(count());
}

int ColorBox::indexOfColor(uint32_t colorRef) const {
  for (int i = 0; i < count(); ++i)
    if (itemData(i).toUInt() == colorRef) return i;
  return -1;
}

uint32_t ColorBox::selectedColor() const {
  const int i = currentIndex();
  return i < 0 ? 0 : itemData(i).toUInt();
}

void ColorBox::setSelectedColor(uint32_t colorRef) {
  int i = indexOfColor(colorRef);
  if (i < 0) {
    const QString name = QStringLiteral("$%1").arg(colorRef, 8, 16, QLatin1Char('0')).toUpper();
    if (customIndex_ < 0) {
      addItem(colorSwatch(colorRef, kSwatchSize), name, QVariant::fromValue(colorRef));
      customIndex_ = count() - 1;
    } else {
      setItemIcon(customIndex_, colorSwatch(colorRef, kSwatchSize));
      setItemText(customIndex_, name);
      setItemData(customIndex_, QVariant::fromValue(colorRef));
    }
    i = customIndex_;
  }
  setCurrentIndex(i);
}
