#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

#include "app/main_unit.h"
#include "app/production_panel.h"
#include "core/catalogue/catalogue.h"
#include "core/protocol/encoding.h"
#include "core/settings/ini_file.h"
#include "core/settings/settings_path.h"

namespace qmx::app {

namespace {

// Settings sections per programmer model; C and ISP programmers share one.
const char* ModelSection(int model) {
  switch (model) {
    case kModel71A: return "QMX-71A";
    case kModel71B: return "QMX-71B";
    case kModel71C: return "QMX-ISP";
    default: return nullptr;
  }
}

// A stored list position that is not in the list selects the list's initial
// position, so no later step reads past a value table.
void SelectStored(QComboBox* box, int stored, int fallback) {
  box->setCurrentIndex(stored >= 0 && stored < box->count() ? stored : fallback);
}

}  // namespace

void TMainUnit::LoadSettings() {
  const char* section = ModelSection(programmerModel_);
  if (!section || options_.settingsPath.empty()) return;
  IniFile ini;
  ini.Load(options_.settingsPath);
  const int typeBefore = std::max(0, cbType->currentIndex());
  const int deviceBefore = std::max(0, cbDevice->currentIndex());

  const int type = ini.ReadInteger(section, "DeviceType", typeBefore);
  cbType->setCurrentIndex(type >= 0 && type < cbType->count() ? type : typeBefore);
  if (cbType->currentIndex() < 0 && cbType->count() > 0) cbType->setCurrentIndex(0);
  cbTypeChange();

  const int device = ini.ReadInteger(section, "DeviceNo", deviceBefore);
  cbDevice->setCurrentIndex(device >= 0 && device < cbDevice->count() ? device : deviceBefore);
  // A fallback past the rebuilt list too: the family's default part.
  if (cbDevice->currentIndex() < 0 && cbDevice->count() > 0) cbDevice->setCurrentIndex(DefaultRow(deviceFamily_));
  cbDeviceChange();

  microwireVariant_ = ini.ReadInteger(section, "ExtDevType", microwireVariant_);
  factoryMode_ = ini.ReadBool("SYSTEM", "FactoryMode", false);
  // A key of our own, read whatever SaveExtSetting says and never written:
  // ReadAhead=0 reads block by block, for firmware that cannot keep up.
  readAhead_ = ini.ReadBool("ExtSetting", "ReadAhead", true);
  production_->Load(ini);
  cbExtSave->setChecked(ini.ReadBool("ExtSetting", "SaveExtSetting", cbExtSave->isChecked()));
  if (!cbExtSave->isChecked()) return;

  const int page = ini.ReadInteger("ExtSetting", "PageSize", ParseIntOr(edPageSize->text().toStdString(), 0));
  edPageSize->setText(QString::number(page));
  SelectStored(cbClockFreq, ini.ReadInteger("ExtSetting", "FreqSetting", cbClockFreq->currentIndex()), 1);
  SelectStored(cbProgramMode, ini.ReadInteger("ExtSetting", "ProgMode", cbProgramMode->currentIndex()), 1);
  SelectStored(cbMaxWriteTime, ini.ReadInteger("ExtSetting", "WriteTime", cbMaxWriteTime->currentIndex()), 4);
  SelectStored(cbMcwDataMode, ini.ReadInteger("ExtSetting", "EndianType", cbMcwDataMode->currentIndex()), 2);
  SelectStored(cbMcwGP0, ini.ReadInteger("ExtSetting", "GP0Setting", cbMcwGP0->currentIndex()), 1);
  SelectStored(cbMcwGP1, ini.ReadInteger("ExtSetting", "GP1Setting", cbMcwGP1->currentIndex()), 1);
  SelectStored(cbReadSize, ini.ReadInteger("ExtSetting", "ReadSize", cbReadSize->currentIndex()), 1);
  mnExtPanel->setChecked(false);
  mnExtPanelClick();
  chVppOut->setChecked(ini.ReadBool("ExtSetting", "VppOut", chVppOut->isChecked()));
}

void TMainUnit::SaveSettings() {
  const char* section = ModelSection(programmerModel_);
  if (!section || options_.settingsPath.empty()) return;
  IniFile ini;
  // A file that exists but cannot be read is not overwritten: its keys would be lost.
  if (!ini.Load(options_.settingsPath)) return;
  ini.WriteInteger(section, "DeviceType", cbType->currentIndex());
  ini.WriteInteger(section, "DeviceNo", cbDevice->currentIndex());
  ini.WriteInteger(section, "ExtDevType", microwireVariant_);
  ini.WriteBool("ExtSetting", "SaveExtSetting", cbExtSave->isChecked());
  production_->Save(ini);
  if (cbExtSave->isChecked()) {
    ini.WriteInteger("ExtSetting", "PageSize", ParseIntOr(edPageSize->text().toStdString(), 0));
    ini.WriteInteger("ExtSetting", "FreqSetting", cbClockFreq->currentIndex());
    ini.WriteInteger("ExtSetting", "ProgMode", cbProgramMode->currentIndex());
    ini.WriteInteger("ExtSetting", "WriteTime", cbMaxWriteTime->currentIndex());
    ini.WriteInteger("ExtSetting", "EndianType", cbMcwDataMode->currentIndex());
    ini.WriteInteger("ExtSetting", "GP0Setting", cbMcwGP0->currentIndex());
    ini.WriteInteger("ExtSetting", "GP1Setting", cbMcwGP1->currentIndex());
    ini.WriteInteger("ExtSetting", "ReadSize", cbReadSize->currentIndex());
    ini.WriteBool("ExtSetting", "VppOut", chVppOut->isChecked());
  }
  EnsureParentFolder(options_.settingsPath);
  ini.Save(options_.settingsPath);
}

}  // namespace qmx::app
