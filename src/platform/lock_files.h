#pragma once
// Lock files as QLockFile writes them (the results database's, and the one
// QSerialPort takes for a port). QLockFile counts one as held while a process
// of the recorded id runs under the owner's program name, and an empty one
// (its owner killed between creating and filling it) for its stale time
// (30 s for a port, for ever for the database). Ids come round again: after
// a power cut the same start order gives the same id, and a thread of
// another korvex can carry it. The owner's own lock on the file says it
// surely: the system drops it when the owner dies, however it dies.

#include <QString>

// Removes the lock file at `path` when no process holds it locked (its owner
// is gone); true when it did. A file whose owner lives is left alone. Only
// where the system keeps such locks (Unix); elsewhere false: there an open
// lock file cannot be removed at all.
bool removeLockOfDeadOwner(const QString& path);

// The lock file QSerialPort takes for the port at `device` ("/dev/ttyUSB0",
// "/dev/pts/4"): the first of its lock directories that is there; empty
// where it takes none.
QString serialPortLockPath(const QString& device);
