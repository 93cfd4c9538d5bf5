// The about box: the program's emblem and the program and firmware versions.
// It holds no logic; the main window fills in both versions before each showing.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace qmx::app {

class TAboutUnit : public QDialog {
  Q_OBJECT

 public:
  // Pass the main window as parent so the box is modal to it and centred on it.
  explicit TAboutUnit(QWidget* parent = nullptr);

  void SetAppVersion(const QString& version);
  void SetFirmwareVersion(const QString& version);
  QString AppVersion() const;
  QString FirmwareVersion() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Draws both pictures for the current device pixel ratio, so they stay sharp on scaled screens.
  void RenderPictures();

  QLabel* appCaption_;
  QLabel* appVersion_;
  QLabel* firmwareCaption_;
  QLabel* firmwareVersion_;
  QLabel* logo_;
  QLabel* title_;
  QPushButton* okButton_;
};

}  // namespace qmx::app
