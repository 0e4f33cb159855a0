#pragma once
// The program's settings, one object for all of them: the measuring, the
// chart's look and the print font (the two settings files), the fuel table
// and the fuel in use, the emission settings and the service settings (INI
// files of their own). It owns them as values, writes each group's file when
// the group is handed a new value, and announces the change with the group's
// own signal, carrying the value. Dialogs fill themselves from a copy and
// hand back a changed one; the measuring session is told through its host.
// It lives in the thread of the program's front (the window's, or the
// service's main thread).

#include <QObject>
#include <QString>

#include "device/fuel_table.h"
#include "emissions/emission_settings.h"
#include "publish/service_settings.h"
#include "storage/settings_files.h"
#include "storage/settings_values.h"

class Settings : public QObject {
  Q_OBJECT
 public:
  // The files beside the executable (seams::executablePath()).
  explicit Settings(QObject* parent = nullptr);

  // ---- start-up
  // Reads both settings files; false when they could not be read whole
  // (what was read stays, the caller resets).
  bool load();
  // Every setting of the two files back to its default, written; false
  // (saveFailed) when not written.
  bool resetToDefaults();
  // The emission and the service settings files; what they say is wrong goes
  // with the values (their `message()`).
  emissions::SettingsLoad loadEmissions();
  publish::ServiceSettingsLoad loadService();

  // ---- the values
  const MeasuringSettings& measuring() const { return measuring_; }
  const ViewSettings& view() const { return view_; }
  const PrintSettings& print() const { return print_; }
  const FuelTable& fuels() const { return fuels_; }
  int fuelIndex() const { return fuelIndex_; }
  const emissions::EmissionSettings& emissions() const { return emissions_; }
  const publish::ServiceSettings& service() const { return service_; }
  // The averaging the emissions follow with these settings.
  emissions::AveragingConfig averagingConfig() const;

  // ---- changes. The two settings files are written with every change of
  // theirs (false, and saveFailed, when they could not be; the new values
  // are in force anyway). A name the file cannot hold is refused.
  bool setMeasuring(const MeasuringSettings& settings);
  bool setView(const ViewSettings& settings);
  bool setPrint(const PrintSettings& settings);
  // The fuel table (not stored) and the row in use (stored).
  bool setFuels(const FuelTable& fuels, int fuelIndex);
  // A name typed for the user's own fuel (row 11) is its name at once, even
  // when the fuel dialog is cancelled: nothing is stored.
  void nameOwnFuel(const QString& name);
  // Written to their own files first: false, with `error` and nothing
  // changed, when that failed.
  bool setEmissions(const emissions::EmissionSettings& settings, QString* error);
  bool setService(const publish::ServiceSettings& settings, QString* error);
  // The poll cycle's state, which the device file keeps beside the settings:
  // written with the next change.
  void setRunState(const RunState& state);

  // The further analyzers of the line (slot, address): their device files
  // written, those of the slots not given removed; in force at the next
  // start. False, with `error`, at the first file that failed.
  bool setLineAnalyzers(const QVector<QPair<int, int>>& analyzers, QString* error);

  QString emissionsPath() const;
  QString servicePath() const;
  const SettingsFiles& files() const { return files_; }

 signals:
  void measuringChanged(const MeasuringSettings& settings);
  void viewChanged(const ViewSettings& settings);
  void printChanged(const PrintSettings& settings);
  void fuelsChanged(const FuelTable& fuels, int fuelIndex);
  void emissionsChanged(const emissions::EmissionSettings& settings);
  void serviceChanged(const publish::ServiceSettings& settings);
  // The two settings files were written after a change, or could not be.
  void saved();
  void saveFailed();
  // These settings files were written (for the audit trail).
  void written(const QStringList& paths);

 private:
  bool save(bool withRunState = true);

  SettingsFiles files_;
  MeasuringSettings measuring_;
  ViewSettings view_;
  PrintSettings print_;
  FuelTable fuels_ = builtInFuelTable();
  int fuelIndex_ = 0;
  RunState runState_;
  emissions::EmissionSettings emissions_;
  publish::ServiceSettings service_;
};

Q_DECLARE_METATYPE(FuelTable)
Q_DECLARE_METATYPE(emissions::EmissionSettings)
Q_DECLARE_METATYPE(publish::ServiceSettings)
