#pragma once
// Results and events the database did not take before the program ended (a
// full disk, a failing drive): kept in a file of their own and taken in at
// the next start, so closing never throws away what the table showed. The
// file ends with the SHA-256 of what precedes it: a file cut short or
// changed is not taken in, and stays where it is for someone to look at.

#include <QString>
#include <vector>

#include "core/result.h"
#include "data/result_store.h"

namespace recovery {

struct Content {
  std::vector<Result> results;
  std::vector<StoredEvent> events;
  bool isEmpty() const { return results.empty() && events.empty(); }
};

// Beside the database: "<database>-recovery".
QString besideDatabase(const QString& dbPath);
// For when the database's folder cannot be written: the user's runtime
// folder (the temporary one where there is none), named after the database.
QString inRuntimeFolder(const QString& dbPath);

// Written whole or not at all (a save file).
bool write(const QString& path, const Content& content, QString* error);
// False, with why, for a file that cannot be read or is not whole.
bool read(const QString& path, Content* content, QString* error);

}  // namespace recovery
