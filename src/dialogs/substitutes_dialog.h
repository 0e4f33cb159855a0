#pragma once
// "Замещающие значения": the operator enters, for a past span of the
// selected analyzer, a value per component (and O2) in the units the
// analyzer delivers, and the reason. The values fill the span where the
// database holds no result that counts; they are refused with a message
// (the dialog stays open at the field) for a span that ends in the future or
// is empty, a value that is not a number (either decimal sign), a value a
// monitored component needs left empty, and an empty reason.

#include <QDialog>
#include <array>

#include "emissions/substitutes.h"

class QDateTimeEdit;
class QLabel;
class QLineEdit;

class SubstitutesDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SubstitutesDialog(QWidget* parent = nullptr);

  // A fresh entry for `analyzer` ("Анализатор 1 (адрес 1)"): the last hour
  // before now, the fields those `validation` monitors marked as needed.
  void fill(const QString& analyzer, const emissions::ValidationConfig& validation);
  // The entry as entered; false (and `entry` untouched) with the message for
  // the operator in `message` when it cannot be taken.
  bool takeOver(emissions::SubstituteEntry* entry, QString* message = nullptr) const;

  void accept() override;

 private:
  // The first field that is not valid, with its message; null when all are.
  QWidget* check(emissions::SubstituteEntry* out, QString* message) const;

  emissions::ValidationConfig validation_;
  QLabel* analyzerLabel_;
  QDateTimeEdit* fromEdit_;
  QDateTimeEdit* toEdit_;
  std::array<QLineEdit*, emissions::kSubstituteChannels.size()> valueEdits_{};
  std::array<QLabel*, emissions::kSubstituteChannels.size()> valueLabels_{};
  QLineEdit* reasonEdit_;
};
