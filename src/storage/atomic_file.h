#pragma once
// Whole-file writes that either replace the old file completely or leave it
// as it was: the bytes go to a temporary file beside it, which is renamed over
// the old one only once everything is on disk.

#include <QByteArray>
#include <QString>

// Writes `data` to `path` by atomic replace. On failure the file at `path` is
// untouched and `error` (when given) says why.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);
