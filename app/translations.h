// Qt's own Japanese texts for what Qt draws itself: message-box buttons and
// the standard dialogs. The window's own texts are Japanese already.
#pragma once

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace qmx::app {

// False when Qt's translations are not installed: the buttons stay English.
inline bool InstallQtTranslations() {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace qmx::app
