#pragma once
// The emission limits dialog ("Нормативы выбросов"): the averaging interval,
// the pre-alarm threshold and, per component, the limits of the interval
// and of the daily average in mg/m3 at the reference O2. An empty field sets
// no limit. Input that cannot be stored is refused with a message and the
// dialog stays open at the field.

#include <QDialog>
#include <array>

#include "emissions/emission_settings.h"

class QComboBox;
class QLineEdit;

class EmissionLimitsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit EmissionLimitsDialog(QWidget* parent = nullptr);

  void fill(const emissions::EmissionSettings& settings);
  // The settings as entered; false (and `settings` untouched) when a field
  // is not valid, with the message for the operator in `message`.
  bool takeOver(emissions::EmissionSettings& settings, QString* message = nullptr) const;

  void accept() override;

 private:
  // The first field that is not valid, with its message; null when all are.
  QLineEdit* check(emissions::EmissionSettings& out, QString* message) const;

  QComboBox* intervalCombo_;
  QLineEdit* preAlarmEdit_;
  std::array<QLineEdit*, emissions::kComponentCount> intervalEdits_{};
  std::array<QLineEdit*, emissions::kComponentCount> dailyEdits_{};
};
