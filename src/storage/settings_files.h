#pragma once
// The two settings files: "<program>.ini" (237 bytes) and "Device-001.ini"
// (239 bytes) in the program's directory, the raw images of the records of
// settings_records.h. SettingsFiles reads them into their records and gives
// the settings as values; values handed back are written into the records
// field by field, so every byte the values do not hold (the other slots,
// unused bytes, what stands after a short string's length) is written back
// as it was read.

#include <QString>
#include <QVector>

#include "storage/settings_records.h"
#include "storage/settings_values.h"

// The executable's path with its extension replaced by `extension` (".ini");
// a name without an extension gets it appended.
QString changeFileExt(const QString& path, const QString& extension);
// The path with the extension of its file name removed.
QString pathWithoutExtension(const QString& path);

// The device file of the analyzer in `slot` (1..8) beside the program:
// "Device-001.ini" .. "Device-008.ini".
QString deviceFilePath(const QString& programPath, int slot);

inline constexpr int kProgramSettingsSize = 237;
inline constexpr int kDeviceRecordSize = 239;

class SettingsFiles {
 public:
  // The files beside `programPath` (the executable's path by default).
  explicit SettingsFiles(const QString& programPath = QString());

  QString settingsPath() const { return settingsPath_; }
  QString devicePath() const { return devicePath_; }

  // Reads the settings record, then the device record. False on any failure:
  // a missing or unreadable file, a file shorter than its record (its bytes
  // are still copied into the record, as a partial read leaves them), or a
  // deviceSlot outside 1..8 (set back to 1, so that reset() has a valid
  // slot). A failure at the settings file skips the device file.
  bool load();
  // Every field of the settings record and the settings fields of the device
  // record for the current slot to their defaults.
  void reset();
  // Writes both files, each by atomic replace; an error at the first skips
  // the second.
  bool save() const;

  MeasuringSettings measuring() const;
  ViewSettings view() const;
  PrintSettings print() const;
  // False, and nothing changed, when a name cannot be held (see setShortString).
  bool setMeasuring(const MeasuringSettings& settings);
  void setView(const ViewSettings& settings);
  bool setPrint(const PrintSettings& settings);
  void setRunState(const RunState& state);

  // The further analyzers of the line: each of slots 2..8 whose device file
  // holds a whole record with an address of 1..247, with the port and the
  // refresh period of `line`.
  QVector<LineAnalyzer> lineAnalyzers(const MeasuringSettings& line) const;
  // Adds the analyzer at `address` in `slot` (2..8): its device file gets the
  // address, and the defaults of its slot when it had none. Removing deletes
  // the file. False, with `error`, when not done.
  bool addLineAnalyzer(int slot, uint8_t address, QString* error) const;
  bool removeLineAnalyzer(int slot, QString* error) const;

  // The records as the files hold them.
  const ProgramSettings& programRecord() const { return program_; }
  const DeviceRecord& deviceRecord() const { return device_; }
  ProgramSettings& programRecord() { return program_; }
  DeviceRecord& deviceRecord() { return device_; }

 private:
  QString settingsPath_;
  QString devicePath_;
  ProgramSettings program_{};
  DeviceRecord device_{};
};
