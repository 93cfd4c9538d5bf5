// Qmx71aApp: the bench operator's window onto the programmer.
//   Qmx71aApp [--port PATH] [--settings FILE] [--lang ja|en]
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/main_unit.h"
#include "app/translations.h"
#include "core/settings/settings_path.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Qmx71aApp");
  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption port("port", "serial port of the programmer (else USB discovery)", "PATH");
  const QCommandLineOption settings("settings", "settings file (else beside the program, else the user's folder)",
                                    "FILE");
  const QCommandLineOption lang("lang", "language of the window: ja or en (else the system's: Japanese on a "
                                "Japanese system, English elsewhere)", "LANG");
  parser.addOption(port);
  parser.addOption(settings);
  parser.addOption(lang);
  parser.process(app);
  const auto language = qmx::app::ChooseLanguage(parser.value(lang), QLocale::system());
  if (!language) {
    std::fprintf(stderr, "Qmx71aApp: --lang takes ja or en, not '%s'\n", qPrintable(parser.value(lang)));
    return 1;
  }
  qmx::app::InstallLanguage(*language);
  // Discovery honours QMX71_PORT: naming the port is the same as setting it.
  if (parser.isSet(port)) ::setenv("QMX71_PORT", parser.value(port).toLocal8Bit().constData(), 1);

  try {
    qmx::app::AppOptions options;
    options.settingsPath =
        qmx::SettingsFilePath(qmx::ProcessSettingsInputs(parser.value(settings).toStdString()));
    qmx::app::TMainUnit window(options);
    window.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Qmx71aApp", QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
