#pragma once
// The options dialog ("Опции"): port, refresh period, network
// address and the times of the measuring cycle.

#include <QDialog>
#include <QStringList>

#include "storage/settings_values.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class SpinEdit;

class OptionsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit OptionsDialog(QWidget* parent = nullptr);

  // Shows the settings (the labels show them even where a control had to
  // clamp them) and offers the ports of this computer.
  void fill(const MeasuringSettings& settings);
  // Copies the confirmed values into `settings`. Numbers are brought into
  // their ranges; a port name is kept to 30 characters.
  void takeOver(MeasuringSettings& settings) const;

  // "COM1".."COM8", then the serial ports present on this computer, then an
  // example address of a serial device server ("tcp://192.168.0.10:4001").
  static QStringList portList();

  // "Применить": refuses a port name the settings file cannot hold.
  void accept() override;

 private:
  // "Параметры обмена"
  QComboBox* portCombo_;
  SpinEdit* refreshPeriodSpin_;
  SpinEdit* addressSpin_;
  // "Временные интервалы цикла измерения (мин)"
  SpinEdit* cyclePeriodSpin_;
  QSlider* continuousPeriodBar_;
  QSlider* zeroSettingBar_;  // shown only: the durations are the analyzer's
  QSlider* drainBar_;
  QSlider* measuringBar_;
  QLabel* continuousPeriodLabel_;
  QLabel* zeroSettingLabel_;
  QLabel* drainLabel_;
  QLabel* measuringLabel_;
};
