#pragma once
// FormControl: the options dialog ("Опции"): port, refresh period, network
// address and the times of the measuring cycle.

#include <QDialog>
#include <QStringList>

#include "storage/settings_records.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class TSpinEdit;

class TFormControl : public QDialog {
  Q_OBJECT
 public:
  explicit TFormControl(QWidget* parent = nullptr);

  // "Параметры обмена"
  QComboBox* ComboBoxPort;
  TSpinEdit* SpinEditPediodWiev;
  TSpinEdit* SpinEditNetAddr;
  // "Временные интервалы цикла измерения (мин)"
  TSpinEdit* SpinEditCiklMeasurement;
  QSlider* TrackBarBetweenCalibration;
  QSlider* TrackBarCalibration;  // shown only: the durations are the analyzer's
  QSlider* TrackBarDrain;
  QSlider* TrackBarMeasurement;
  QLabel* LabelBetweenCalibration;
  QLabel* LabelCalibration;
  QLabel* LabelDrain;
  QLabel* LabelMeasurement;
  QPushButton* ButtonApply;   // "Применить"
  QPushButton* ButtonCancel;  // "Отмена"

  // Each shows its track bar's position in its value label.
  void TrackBarCalibrationChange();
  void TrackBarDrainChange();
  void TrackBarMeasurementChange();
  void TrackBarBetweenCalibrationChange();

  // Shows the stored values (the labels show them even where a control had to
  // clamp them) and offers the ports of this computer.
  void Fill(const TProgramSettings& settings, const TDeviceRecord& device);
  // Copies the confirmed values into the records (current slot). Numbers are
  // brought into their ranges; a port name is kept to 30 characters.
  void TakeOver(TProgramSettings& settings, TDeviceRecord& device) const;

  // "COM1".."COM8", then the serial ports present on this computer.
  static QStringList PortList();

  // "Применить": refuses a port name the settings file cannot hold.
  void accept() override;
};
