#pragma once
// Controls the settings dialogs share: the raised heading panel, the spin edit
// with its typed-length limit, and the colour drop-down with swatches.

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <cstdint>

class QPushButton;

// An editable combo box keeps Enter to itself; in a dialog it should confirm
// like the other fields do.
void confirmOnEnter(QComboBox* box, QPushButton* button);

// A raised panel with a bold centred caption, the heading of a frame.
QLabel* headingPanel(const QString& text, QWidget* parent);

// A spin edit: its text may be typed freely (digits, sign, decimal separator,
// at most `maxTyped` characters); the arrows step through the whole range.
// A value typed outside the range is brought into it when the field is left.
class SpinEdit : public QSpinBox {
  Q_OBJECT
 public:
  SpinEdit(int minimum, int maximum, int maxTyped, QWidget* parent = nullptr);

  // The integer the text reads as, or the minimum when it reads as none; not
  // brought into the range.
  int typedValue() const;
  // typedValue() brought into the range.
  int boundedValue() const;
  // The edit field, for tests and for selecting its text.
  QLineEdit* editor() const { return lineEdit(); }
  int maxTyped() const { return maxTyped_; }

 protected:
  QValidator::State validate(QString& text, int& pos) const override;
  void fixup(QString& text) const override;
  int valueFromText(const QString& text) const override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool allowedCharacter(QChar c) const;
  int maxTyped_;
};

// A drop-down of colours, each with a swatch and its English name. Colours are
// 0x00BBGGRR values, as the settings store them.
class ColorBox : public QComboBox {
  Q_OBJECT
 public:
  // `extended`: after the 16 standard colours also money green, sky blue,
  // cream and medium gray.
  explicit ColorBox(bool extended, QWidget* parent = nullptr);

  uint32_t selectedColor() const;
  // A colour that is not in the list is added at its end as "$00BBGGRR", so
  // that a stored colour survives the dialog unchanged.
  void setSelectedColor(uint32_t colorRef);
  // Index of the item of `colorRef`, or -1.
  int indexOfColor(uint32_t colorRef) const;

 private:
  int customIndex_ = -1;
};

// Swatch of a colour for a list item.
QIcon colorSwatch(uint32_t colorRef, const QSize& size);
