// The window's language. Its texts are written in Japanese and stay so by
// default; English comes from the translation built into the program. core/
// has no Qt, so its Japanese texts are translated here, where they arrive.
#pragma once

#include <QLocale>
#include <QString>
#include <optional>
#include <string>

class QTranslator;

namespace qmx::app {

enum class Language { kJapanese, kEnglish };

// `requested` is the --lang value: "ja" or "en" (any case); empty leaves it to
// the system, Japanese on a Japanese system and English on any other.
// nullopt for a request that names neither.
std::optional<Language> ChooseLanguage(const QString& requested, const QLocale& system);

// Installs what the language needs before the window is built: English gets
// the window's own translation, Japanese Qt's Japanese texts for what Qt draws
// itself (message-box buttons, standard dialogs). Returns the translator,
// owned by the application, or nullptr when it could not be loaded (Japanese
// without Qt's translations installed: those buttons stay English).
QTranslator* InstallLanguage(Language language);

// Qt's Japanese texts alone. False when Qt's translations are not installed.
bool InstallQtTranslations();

// A text of core/'s (a log line, a question, a family name) in the window's
// language. Lines made from one of its printf formats are translated with
// their values kept.
QString CoreText(const std::string& utf8);

}  // namespace qmx::app
