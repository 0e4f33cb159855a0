#pragma once
// FormSetView: the view parameters dialog ("Параметры просмотра").

#include <QDialog>

#include "storage/settings_records.h"

class TFormSetView : public QDialog {
  Q_OBJECT
 public:
  explicit TFormSetView(QWidget* parent = nullptr);

  void Fill(const TProgramSettings& settings);
  // Copies the confirmed values into the record.
  void TakeOver(TProgramSettings& settings) const;
};
