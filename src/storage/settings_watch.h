#pragma once
// The settings files as the program last knew them, so that a file changed
// while the program was not looking is recorded at the next start as
// "изменено вне программы", setting by setting, with the value before and
// after. The audit trail keeps each file's last known content (its table
// audit_files); a file the trail has not seen yet is recorded whole once,
// as taken under watch.
//
// A file is read as settings, not as bytes: the two binary records field by
// field (their settings only, not the run state the device record carries
// beside them), an INI file key by key. Secrets (passwords, the password in
// a connection string) are never kept: the known content holds an Argon2id
// hash of each (libsodium), enough to tell that it changed; the trail says
// only that it did.

#include <QMap>
#include <QString>
#include <QVector>

class AuditTrail;

struct WatchedFile {
  enum class Kind { ProgramRecord, DeviceRecord, Ini };
  QString name;  // as the trail knows it: the file's name
  QString path;
  Kind kind = Kind::Ini;
};

// A file's settings, key by key; "(файл)" says whether it is there.
using SettingsSnapshot = QMap<QString, QString>;
SettingsSnapshot readSettingsFile(const WatchedFile& file);

class SettingsWatch {
 public:
  explicit SettingsWatch(QVector<WatchedFile> files = {}) : files_(std::move(files)) {}
  void setFiles(QVector<WatchedFile> files) { files_ = std::move(files); }
  const QVector<WatchedFile>& files() const { return files_; }

  // At start: every file against what the trail knew of it. Differences
  // are recorded as changed outside the program; files seen for the first
  // time as taken under watch. The number of entries recorded.
  int checkOutside(AuditTrail& trail) const;
  // After the program wrote files (by path): each setting changed is
  // recorded as changed by the user logged in.
  int recordWritten(AuditTrail& trail, const QStringList& paths) const;
  // After the program wrote a file whose changes it records itself (the
  // accounts): only what is known is brought up to date.
  void acceptWritten(AuditTrail& trail, const QString& path) const;

 private:
  int compare(AuditTrail& trail, const WatchedFile& file, bool outside, bool record) const;
  QVector<WatchedFile> files_;
};
