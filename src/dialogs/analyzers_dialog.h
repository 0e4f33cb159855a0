#pragma once
// "Анализаторы...": which analyzers share the line. Slot 1 is the program's
// own (its address is set in the options); slots 2..8 are each on or off
// with an address. What the dialog is handed back becomes the device files
// ("Device-00N.ini") at the next start of the program.

#include <QDialog>
#include <QVector>
#include <array>

#include "storage/settings_values.h"

class QCheckBox;
class QLabel;
class QSpinBox;

class AnalyzersDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AnalyzersDialog(QWidget* parent = nullptr);

  // The first analyzer's address and the further ones configured.
  void fill(int firstAddress, const QVector<LineAnalyzer>& others);
  // Slot and address of each further analyzer ticked.
  QVector<QPair<int, int>> chosen() const;

 private:
  // Two analyzers at one address would answer each other's requests.
  void checkAddresses();

  QLabel* firstLabel_;
  std::array<QCheckBox*, 7> used_{};
  std::array<QSpinBox*, 7> address_{};
  QLabel* problem_;
  QPushButton* ok_ = nullptr;
  int firstAddress_ = 1;
};
