#pragma once
// Files the program keeps open through a library that locks them: the
// results database with its log and shared index. Nothing else in the
// process may open one, even to read it for a moment: the POSIX locks belong
// to the process, and closing any descriptor of the file releases every one
// it holds there, so another program could take the log away while results
// are still committed into it. The file dialogs refuse to hand them out.
// Thread-safe; a file guarded twice is released by the second unguard.

#include <QString>

void guardFile(const QString& path, const QString& what);
void unguardFile(const QString& path);
// What the file is ("база данных результатов"), or empty when nobody guards
// it. A link to it, or another spelling of its path, is the same file.
QString guardedFile(const QString& path);
