#pragma once
// FormControl: the options dialog ("Опции"): port, refresh period, network
// address and the times of the measuring cycle.

#include <QDialog>

#include "storage/settings_records.h"

class TFormControl : public QDialog {
  Q_OBJECT
 public:
  explicit TFormControl(QWidget* parent = nullptr);

  // Shows the stored values (the labels show them even where a control had to
  // clamp them).
  void Fill(const TProgramSettings& settings, const TDeviceRecord& device);
  // Copies the confirmed values into the records (current slot).
  void TakeOver(TProgramSettings& settings, TDeviceRecord& device) const;
};
