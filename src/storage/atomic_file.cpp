#include "storage/atomic_file.h"

#include <QSaveFile>

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error) {
  QSaveFile file(path);
  // Renaming over the old file is the point; never fall back to writing in place.
  file.setDirectWriteFallback(false);
  // Unbuffered, so a short write (disk full, file size limit) shows in the
  // count returned here; a buffered QSaveFile commits a cut file as a success.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    if (error) *error = file.errorString();
    return false;
  }
  if (file.write(data) != data.size()) {
    if (error) *error = file.error() != QFileDevice::NoError ? file.errorString()
                                                              : QStringLiteral("short write");
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}
