#pragma once
// FormSetView: the view parameters dialog ("Параметры просмотра"): per channel
// the visibility, display factor and colour of its curve, the panel colours,
// the logarithmic scale and the 3-D look of the trend chart.

#include <QDialog>

#include "storage/settings_records.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class TColorBox;

class TFormSetView : public QDialog {
  Q_OBJECT
 public:
  explicit TFormSetView(QWidget* parent = nullptr);

  // One row per channel: "показать", "множитель", "цвет".
  QCheckBox* CheckBoxTG;
  QCheckBox* CheckBoxO2;
  QCheckBox* CheckBoxCO;
  QCheckBox* CheckBoxNO;
  QCheckBox* CheckBoxNO2;
  QCheckBox* CheckBoxSO2;
  QCheckBox* CheckBoxH2S;
  QCheckBox* CheckBoxCO2;
  QCheckBox* CheckBoxNOx;
  QCheckBox* CheckBoxQA;
  QCheckBox* CheckBoxAlf;
  QCheckBox* CheckBoxTa;
  QComboBox* ComboBoxTg;
  QComboBox* ComboBoxO2;
  QComboBox* ComboBoxCO;
  QComboBox* ComboBoxNO;
  QComboBox* ComboBoxNO2;
  QComboBox* ComboBoxSO2;
  QComboBox* ComboBoxH2S;
  QComboBox* ComboBoxCO2;
  QComboBox* ComboBoxNOx;
  QComboBox* ComboBoxQa;
  QComboBox* ComboBoxAlf;
  QComboBox* ComboBoxTa;
  TColorBox* ColorBoxChartTg;
  TColorBox* ColorBoxChartO2;
  TColorBox* ColorBoxChartCO;
  TColorBox* ColorBoxChartNO;
  TColorBox* ColorBoxChartNO2;
  TColorBox* ColorBoxChartSO2;
  TColorBox* ColorBoxChartH2S;
  TColorBox* ColorBoxChartCO2;
  TColorBox* ColorBoxChartNOx;
  TColorBox* ColorBoxChartQa;
  TColorBox* ColorBoxChartAlf;
  TColorBox* ColorBoxChartTa;
  // The same controls in channel order (Tg, O2, CO, NO, NO2, SO2, H2S, CO2, NOx, Qa, Alf, Ta).
  QCheckBox* CheckBoxes[kChannelCount];
  QComboBox* ComboBoxes[kChannelCount];
  TColorBox* ColorBoxes[kChannelCount];

  TColorBox* ColorBoxChartEnd;    // upper colour of the panel
  TColorBox* ColorBoxChartStart;  // lower colour of the panel
  QCheckBox* CheckBoxLogarifm;
  QCheckBox* CheckBox3D;
  QPushButton* ButtonCancel;  // "Отмена"
  QPushButton* ButtonApply;   // "Применить"

  void Fill(const TProgramSettings& settings);
  // Copies the confirmed values into the record. All factors are read first:
  // when one is no number nothing at all is changed and false is returned.
  bool TakeOver(TProgramSettings& settings) const;

  // "Применить": checks every factor first and keeps the dialog open, with
  // the error shown and the field selected, when one is no number.
  void accept() override;

 private:
  // Index of the first channel whose factor is no number, or -1.
  int FirstInvalidFactor() const;
};
