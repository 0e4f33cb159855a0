#pragma once
// The view parameters dialog ("Параметры просмотра"): per channel
// the visibility, display factor and colour of its curve, the panel colours,
// the logarithmic scale and the 3-D look of the trend chart.

#include <QDialog>

#include "storage/settings_values.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class ColorBox;

class ViewDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ViewDialog(QWidget* parent = nullptr);

  void fill(const ViewSettings& settings);
  // Copies the confirmed values into `settings`. All factors are read first:
  // when one is no number nothing at all is changed and false is returned.
  bool takeOver(ViewSettings& settings) const;

  // "Применить": checks every factor first and keeps the dialog open, with
  // the error shown and the field selected, when one is no number.
  void accept() override;

 private:
  // Index of the first channel whose factor is no number, or -1.
  int firstInvalidFactor() const;

  // One row per channel, in channel order: "показать", "множитель", "цвет".
  QCheckBox* showBoxes_[kChannelCount];
  QComboBox* factorBoxes_[kChannelCount];
  ColorBox* colorBoxes_[kChannelCount];
  ColorBox* topColorBox_;     // upper colour of the panel
  ColorBox* bottomColorBox_;  // lower colour of the panel
  QCheckBox* logScaleBox_;
  QCheckBox* view3DBox_;
};
