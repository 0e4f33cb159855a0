#pragma once
// "Публикация результатов": the service settings file (<program>-service.ini)
// in a window: the names of the site and the analyzer, the MQTT broker, the
// central database and the mode the service starts. "Применить" checks the
// parts that are switched on as the library would, and hands the settings
// to whoever writes and applies them; the window stays open when either
// refuses, so nothing typed is lost.

#include <QDialog>
#include <functional>

#include "publish/service_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SpinEdit;

class PublishDialog : public QDialog {
  Q_OBJECT
 public:
  // Writes and applies the settings; false with a reason when it could not.
  using Applier = std::function<bool(const publish::ServiceSettings&, QString* error)>;

  explicit PublishDialog(QWidget* parent = nullptr);

  void setApplier(Applier applier) { applier_ = std::move(applier); }
  // Shows `settings`; keys the window has no field for are kept as they are.
  void fill(const publish::ServiceSettings& settings);
  // What the window shows, over the settings it was filled with.
  publish::ServiceSettings settings() const;
  // Why the shown settings cannot be used, key by key; empty when they can.
  QStringList problems() const;

  // "Применить": refuses what cannot work, with the reasons; otherwise
  // applies and closes.
  void accept() override;

 private:
  void updateEnabled();
  void chooseCaFile();

  publish::ServiceSettings base_;
  Applier applier_;

  QLineEdit* siteEdit_;
  QLineEdit* analyzerEdit_;
  QComboBox* modeCombo_;
  QCheckBox* mqttCheck_;
  QLineEdit* hostEdit_;
  SpinEdit* portSpin_;
  QCheckBox* tlsCheck_;
  QLineEdit* caFileEdit_;
  QPushButton* caFileButton_;
  QCheckBox* insecureCheck_;
  QLabel* insecureWarning_;
  QLineEdit* userEdit_;
  QLineEdit* passwordEdit_;
  QCheckBox* centralCheck_;
  QLineEdit* connectionEdit_;
  QLabel* connectionLabel_;
};
