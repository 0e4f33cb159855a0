#pragma once
// Qt's own texts in Russian: the file dialog, the printer dialog, the
// standard buttons of Qt's dialogs and Qt's error messages, from Qt's
// translations (Debian's qt6-translations-l10n). The program's own boxes
// name their titles and buttons themselves ("Error", "OK", "&Yes", ...) and
// are not changed by them.

#include <QTranslator>
#include <memory>

// Installs Qt's Russian translations into the application; removed again when
// the returned translator is destroyed. Null when they are not installed on
// this machine (Qt's texts then stay English).
std::unique_ptr<QTranslator> installQtTranslations();
