#include "platform/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

std::unique_ptr<QTranslator> installQtTranslations() {
  auto translator = std::make_unique<QTranslator>();
  // "qt_ru" gathers qtbase_ru and the modules' translations (serial port, ...).
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qt"), QStringLiteral("_"), folder) ||
      !QCoreApplication::installTranslator(translator.get()))
    return nullptr;
  return translator;
}
