// The production panel: start on insertion, serial numbers and the run log,
// the window's choices for programming many parts. Kept in the settings
// file's [Production] section, whatever SaveExtSetting says.
#pragma once

#include <QFrame>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace qmx {
class IniFile;
}

namespace qmx::app {

struct ProductionChoices {
  bool autoStart = false;
  bool serialOn = false;
  QString serialAt;      // hexadecimal address in the part
  QString serialStart;   // decimal; seeds a state file that does not exist yet
  QString serialStep;    // decimal, 1 when empty
  QString serialFormat;  // be16 | be32 | le16 | le32 | bcd[:N] | ascii:W
  QString serialState;   // the state file
  QString runLog;        // empty: no run log
  bool runLogJson = false;
};

class ProductionPanel : public QFrame {
  Q_OBJECT

 public:
  explicit ProductionPanel(QWidget* parent = nullptr);

  ProductionChoices Choices() const;
  bool AutoStart() const;
  void Load(const IniFile& ini);
  void Save(IniFile& ini) const;
  // "次の番号 N" beside the serial fields, or empty.
  void ShowNextSerial(const QString& text);

 private:
  QLineEdit* FileField(const char* name, const QString& caption, int row, bool save);

  QCheckBox* cbAutoStart = nullptr;
  QCheckBox* cbSerial = nullptr;
  QLineEdit* edSerialAt = nullptr;
  QLineEdit* edSerialStart = nullptr;
  QLineEdit* edSerialStep = nullptr;
  QComboBox* cbSerialFormat = nullptr;
  QLineEdit* edSerialState = nullptr;
  QLabel* lbNextSerial = nullptr;
  QLineEdit* edRunLog = nullptr;
  QComboBox* cbRunLogFormat = nullptr;
};

}  // namespace qmx::app
