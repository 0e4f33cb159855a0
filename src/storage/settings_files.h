#pragma once
// Loading, resetting and saving the two settings records. The files are the
// raw record images: "<program>.ini" (237 bytes) and "Device-001.ini"
// (239 bytes) in the program's directory.

#include <QString>

#include "storage/settings_records.h"

// The executable's path with its extension replaced by `extension` (".ini");
// a name without an extension gets it appended.
QString changeFileExt(const QString& path, const QString& extension);
// The path with the extension of its file name removed.
QString pathWithoutExtension(const QString& path);

// Paths computed by loadSettings from the executable's path and reused by saveSettings.
QString settingsPath();
QString devicePath();

// Reads programSettings, then deviceRecord. False on any failure: a missing or
// unreadable file, a file shorter than its record (its bytes are still copied
// into the record, as a partial read leaves them), or a deviceSlot outside 1..8
// (set back to 1, so the caller's reset has a valid slot). A failure at the
// settings file skips the device file. Shows nothing; the caller reports.
bool loadSettings();

// Sets every field of programSettings and the settings fields of deviceRecord
// for the current slot to their defaults.
void resetSettings();

// Writes both files, each by atomic replace; an error at the first skips the
// second. Shows nothing; the caller reports a failure.
bool saveSettings();

inline constexpr int kProgramSettingsSize = 237;
inline constexpr int kDeviceRecordSize = 239;
