// qmx71-screenshots: renders the main window (connected, extended panels
// open; after reading the part; part-way through a write), the hex editor in
// each view and the about dialog to PNG files, for the documentation.
//   qmx71-screenshots OUTPUT_DIR      (QMX71_PORT names the programmer; the
//                                      write needs a programmer's own pace)
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "app/about_unit.h"
#include "app/hex_edit.h"
#include "app/main_unit.h"
#include "app/translations.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  qmx::app::InstallQtTranslations();
  if (argc != 2) {
    std::fprintf(stderr, "usage: qmx71-screenshots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  qmx::app::TMainUnit window(qmx::app::AppOptions{});
  window.show();
  QElapsedTimer waited;
  waited.start();
  while (!window.Connected() && waited.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 50);
  if (!window.Connected()) {
    std::fprintf(stderr, "qmx71-screenshots: the programmer did not connect\n");
    return 3;
  }
  window.findChild<QAction*>("mnExtPanel")->trigger();
  QApplication::processEvents();
  bool saved = window.grab().save(out.filePath("main-window.png"));

  // The part in the socket is an I2C part: read it into the log.
  window.findChild<QAction*>("mnExtPanel")->trigger();
  auto* type = window.findChild<QComboBox*>("cbType");
  type->setCurrentIndex(1);
  window.cbTypeChange();
  window.findChild<QComboBox*>("cbDevice")->setCurrentIndex(7);
  window.cbDeviceChange();
  window.findChild<QCheckBox*>("chVppOut")->setChecked(true);  // this model powers the part only when asked
  window.ReadBtnClick();
  while (window.OperationRunning()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  QApplication::processEvents();
  saved = window.grab().save(out.filePath("main-window-read.png")) && saved;

  // Byte by byte the write takes long enough to show its progress; the
  // picture is taken a few seconds in, then the write is cancelled.
  window.findChild<QLineEdit*>("edPageSize")->setText("1");
  window.WriteBtnClick();
  waited.restart();
  while (window.OperationRunning() && waited.elapsed() < 2500) QApplication::processEvents(QEventLoop::AllEvents, 20);
  if (!window.OperationRunning()) {
    std::fprintf(stderr, "qmx71-screenshots: the write ended before its picture (an instant programmer?)\n");
    return 3;
  }
  saved = window.grab().save(out.filePath("main-window-busy.png")) && saved;
  window.CancelBtnClick();
  while (window.OperationRunning()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  window.findChild<QLineEdit*>("edPageSize")->setText("32");

  qmx::app::THexEdit* editor = window.HexEditor();
  for (int view = 0; view < 3; ++view) {
    editor->Open(&window.Image(), window.Image().Size(), view);
    editor->show();
    QApplication::processEvents();
    saved = editor->grab().save(out.filePath(QString("hex-editor-view%1.png").arg(view))) && saved;
    editor->hide();
  }

  // The dialog is modal: grab it from inside its own event loop.
  QTimer::singleShot(200, [&] {
    saved = window.AboutDialog()->grab().save(out.filePath("about-dialog.png")) && saved;
    window.AboutDialog()->findChild<QPushButton*>("OkBtn")->click();
  });
  window.mnVersionClick();
  if (!saved) {
    std::fprintf(stderr, "qmx71-screenshots: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
