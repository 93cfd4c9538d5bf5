#include "app/production_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "core/settings/ini_file.h"

namespace qmx::app {

namespace {

constexpr const char* kSection = "Production";

QLineEdit* Field(QWidget* parent, const char* name, const char* pattern) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
  return edit;
}

QString ReadText(const IniFile& ini, const char* key, const QString& fallback = {}) {
  const std::optional<std::string> value = ini.ReadString(kSection, key);
  return value ? QString::fromStdString(*value) : fallback;
}

}  // namespace

ProductionPanel::ProductionPanel(QWidget* parent) : QFrame(parent) {
  setObjectName("ProductionPanel");
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 0, 4, 2);
  auto* group = new QGroupBox(tr("量産"), this);
  group->setObjectName("GroupBoxProduction");
  outer->addWidget(group);
  auto* grid = new QGridLayout(group);
  grid->setContentsMargins(8, 4, 8, 4);
  grid->setVerticalSpacing(2);

  cbAutoStart = new QCheckBox(tr("挿入で自動開始"), group);
  cbAutoStart->setObjectName("cbAutoStart");
  const char* hint = QT_TR_NOOP("接続中、ソケットにデバイスが挿入されるとプログラムを開始します。次のデバイスは、取り外してから挿入してください。");
  cbAutoStart->setToolTip(tr(hint));
  grid->addWidget(cbAutoStart, 0, 0, 1, 2);

  cbSerial = new QCheckBox(tr("シリアル番号"), group);
  cbSerial->setObjectName("cbSerial");
  grid->addWidget(cbSerial, 1, 0);
  auto* serialRow = new QHBoxLayout;
  serialRow->addWidget(new QLabel(tr("アドレス"), group));
  edSerialAt = Field(group, "edSerialAt", "[0-9A-Fa-f]{0,5}");
  serialRow->addWidget(edSerialAt);
  serialRow->addWidget(new QLabel(tr("開始"), group));
  edSerialStart = Field(group, "edSerialStart", "[0-9]{0,19}");
  serialRow->addWidget(edSerialStart);
  serialRow->addWidget(new QLabel(tr("増分"), group));
  edSerialStep = Field(group, "edSerialStep", "[0-9]{0,9}");
  edSerialStep->setText("1");
  serialRow->addWidget(edSerialStep);
  cbSerialFormat = new QComboBox(group);
  cbSerialFormat->setObjectName("cbSerialFormat");
  cbSerialFormat->setEditable(true);  // bcd:N and ascii:W take any width
  cbSerialFormat->addItems({"be16", "be32", "le16", "le32", "bcd", "ascii:8"});
  cbSerialFormat->setCurrentIndex(1);
  serialRow->addWidget(cbSerialFormat);
  lbNextSerial = new QLabel(group);
  lbNextSerial->setObjectName("lbNextSerial");
  serialRow->addWidget(lbNextSerial, 1);
  grid->addLayout(serialRow, 1, 1);

  edSerialState = FileField("edSerialState", tr("状態ファイル"), 2, true);
  edRunLog = FileField("edRunLog", tr("実行ログ"), 3, true);
  cbRunLogFormat = new QComboBox(group);
  cbRunLogFormat->setObjectName("cbRunLogFormat");
  cbRunLogFormat->addItems({"CSV", "JSON Lines"});
  static_cast<QHBoxLayout*>(grid->itemAtPosition(3, 1)->layout())->addWidget(cbRunLogFormat);
  hide();
}

// A caption in column 0, the path and a browse button in column 1.
QLineEdit* ProductionPanel::FileField(const char* name, const QString& caption, int row, bool save) {
  auto* group = findChild<QGroupBox*>("GroupBoxProduction");
  auto* grid = static_cast<QGridLayout*>(group->layout());
  grid->addWidget(new QLabel(caption, group), row, 0);
  auto* line = new QHBoxLayout;
  auto* edit = new QLineEdit(group);
  edit->setObjectName(name);
  line->addWidget(edit, 1);
  auto* browse = new QPushButton(tr("参照"), group);
  browse->setObjectName(QString(name) + "Btn");
  line->addWidget(browse);
  grid->addLayout(line, row, 1);
  connect(browse, &QPushButton::clicked, this, [this, edit, caption, save] {
    // Not confirmed for overwriting: the file is appended to or kept, never replaced by a choice here.
    const QString path = save ? QFileDialog::getSaveFileName(this, caption, edit->text(), {}, nullptr,
                                                             QFileDialog::DontConfirmOverwrite)
                              : QFileDialog::getOpenFileName(this, caption, edit->text());
    if (!path.isEmpty()) edit->setText(path);
  });
  return edit;
}

ProductionChoices ProductionPanel::Choices() const {
  ProductionChoices c;
  c.autoStart = cbAutoStart->isChecked();
  c.serialOn = cbSerial->isChecked();
  c.serialAt = edSerialAt->text();
  c.serialStart = edSerialStart->text();
  c.serialStep = edSerialStep->text();
  c.serialFormat = cbSerialFormat->currentText().trimmed();
  c.serialState = edSerialState->text();
  c.runLog = edRunLog->text();
  c.runLogJson = cbRunLogFormat->currentIndex() == 1;
  return c;
}

bool ProductionPanel::AutoStart() const { return cbAutoStart->isChecked(); }

void ProductionPanel::Load(const IniFile& ini) {
  cbAutoStart->setChecked(ini.ReadBool(kSection, "AutoStart", cbAutoStart->isChecked()));
  cbSerial->setChecked(ini.ReadBool(kSection, "Serial", cbSerial->isChecked()));
  edSerialAt->setText(ReadText(ini, "SerialAt", edSerialAt->text()));
  edSerialStart->setText(ReadText(ini, "SerialStart", edSerialStart->text()));
  edSerialStep->setText(ReadText(ini, "SerialStep", edSerialStep->text()));
  cbSerialFormat->setCurrentText(ReadText(ini, "SerialFormat", cbSerialFormat->currentText()));
  edSerialState->setText(ReadText(ini, "SerialState", edSerialState->text()));
  edRunLog->setText(ReadText(ini, "RunLog", edRunLog->text()));
  cbRunLogFormat->setCurrentIndex(ReadText(ini, "RunLogFormat") == "jsonl" ? 1 : 0);
}

void ProductionPanel::Save(IniFile& ini) const {
  const ProductionChoices c = Choices();
  ini.WriteBool(kSection, "AutoStart", c.autoStart);
  ini.WriteBool(kSection, "Serial", c.serialOn);
  ini.WriteString(kSection, "SerialAt", c.serialAt.toStdString());
  ini.WriteString(kSection, "SerialStart", c.serialStart.toStdString());
  ini.WriteString(kSection, "SerialStep", c.serialStep.toStdString());
  ini.WriteString(kSection, "SerialFormat", c.serialFormat.toStdString());
  ini.WriteString(kSection, "SerialState", c.serialState.toStdString());
  ini.WriteString(kSection, "RunLog", c.runLog.toStdString());
  ini.WriteString(kSection, "RunLogFormat", c.runLogJson ? "jsonl" : "csv");
}

void ProductionPanel::ShowNextSerial(const QString& text) { lbNextSerial->setText(text); }

}  // namespace qmx::app
