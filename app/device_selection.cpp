#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/main_unit.h"
#include "app/translations.h"
#include "core/catalogue/catalogue.h"
#include "core/catalogue/datasheet_pages.h"
#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"

namespace qmx::app {

ProgramSettings TMainUnit::CurrentSettings() const {
  ProgramSettings s;
  s.family = deviceFamily_;
  s.row = cbDevice->currentIndex();
  s.model = programmerModel_;
  s.readSize = cbReadSize->currentIndex();
  s.readAhead = readAhead_;
  s.dataMode = cbMcwDataMode->currentIndex();
  s.gp0 = cbMcwGP0->currentIndex();
  s.gp1 = cbMcwGP1->currentIndex();
  s.clockIndex = cbClockFreq->currentIndex();
  s.maxWriteTime = cbMaxWriteTime->currentText().toStdString();
  s.vppOut = chVppOut->isChecked();
  s.pageSize = edPageSize->text().toStdString();
  return s;
}

int TMainUnit::DumpLayoutIndex() const {
  return deviceFamily_ == kFamilyMicrowire ? cbMcwDataMode->currentIndex() : 0;
}

void TMainUnit::SetModelFamilies(int model) {
  if (model < kModel71A || model > kModelUnknown) return;
  programmerModel_ = model;
  cbType->clear();
  for (int family : ProgramFamilies(model)) cbType->addItem(CoreText(FamilyCaption(family)));
  if (model == kModel71A || model == kModel71B) chVppOut->hide();
  if (model == kModel71C) chVppOut->show();
  cbType->setCurrentIndex(cbType->count() > 0 ? 0 : -1);
  cbTypeChange();
}

void TMainUnit::SendSetMode(int family) {
  link_.SendCommand4(SET_MODE, static_cast<std::uint8_t>(family), 0, 50);
}

void TMainUnit::cbTypeChange() {
  const int position = cbType->currentIndex();
  if (position >= 0) {
    const int family = position == 0 ? (programmerModel_ == kModel71B ? kFamilySpi : kFamilyMicrowire)
                       : position == 1 ? kFamilyI2c
                                       : kFamilySpi;
    deviceFamily_ = family;
  }
  microwireVariant_ = 0;
  cbDevice->clear();
  if (deviceFamily_ >= kFamilyMicrowire && deviceFamily_ <= kFamilySpi) {
    for (int row = 0; row < RowCount(deviceFamily_); ++row)
      cbDevice->addItem(QString::fromUtf8(PartName(deviceFamily_, row)));
    cbDevice->setCurrentIndex(DefaultRow(deviceFamily_));
    SendSetMode(deviceFamily_);
    McwExtPanel->setVisible(deviceFamily_ == kFamilyMicrowire && mnExtPanel->isChecked());
  }
  cbDeviceChange();
}

void TMainUnit::cbDeviceChange() {
  const int row = cbDevice->currentIndex();
  int page = 0;
  if (deviceFamily_ >= kFamilyMicrowire && deviceFamily_ <= kFamilySpi && row >= 0 && row < RowCount(deviceFamily_)) {
    image_.SetSize(PartSize(deviceFamily_, row));
    if (deviceFamily_ == kFamilyMicrowire) {
      microwireVariant_ = MicrowireParts()[static_cast<std::size_t>(row)].variant;
      page = 1;
    } else {
      page = DefaultPageSize(deviceFamily_, row);
    }
  }
  image_.Clear();
  edPageSize->setText(QString::number(page));
  ShowPageHint(row);
  switch (ReloadDataFile(true)) {
    case Reload::kLoaded:
      statusPanels_[2]->setText(QString::asprintf("checksum=%04X", image_.ImageSum()));
      break;
    case Reload::kFailed:
      // As in the operations: no part of a damaged file stays in the image.
      // The field keeps the name, so Program and Write refuse it too.
      image_.Clear();
      statusPanels_[2]->clear();
      LogLine(tr("HEXファイルの読み込みに失敗しました。"));
      break;
    case Reload::kNoFile:
      statusPanels_[2]->clear();
      break;
  }
}

void TMainUnit::ShowPageHint(int row) {
  const bool paged = deviceFamily_ == kFamilyI2c || deviceFamily_ == kFamilySpi;
  const char* name = paged ? PartName(deviceFamily_, row) : nullptr;
  const int page = name != nullptr ? DatasheetPageSize(name) : 0;
  QString tip;
  if (page > 0)
    tip = tr("データシートのページサイズは %1 バイトです。ページサイズに入力すると書き込みが速くなります。書き込みの後でベリファイしてください。").arg(page);
  lbPageHint->setText(page > 0 ? tr("推奨 %1").arg(page) : QString());
  lbPageHint->setToolTip(tip);
  edPageSize->setToolTip(tip);
}

void TMainUnit::edPageSizeExit() {
  edPageSize->setText(QString::number(ParseIntOr(edPageSize->text().toStdString(), 1)));
}

void TMainUnit::mnExtPanelClick() {
  // Called with the item's state as it was before the click.
  if (mnExtPanel->isChecked()) {
    mnExtPanel->setChecked(false);
    ExtPanel->hide();
    McwExtPanel->hide();
  } else {
    mnExtPanel->setChecked(true);
    ExtPanel->show();
    McwExtPanel->setVisible(deviceFamily_ == kFamilyMicrowire);
  }
}

void TMainUnit::cbMcwDataModeChange() { cbMcwGP1->setCurrentIndex(cbMcwDataMode->currentIndex() == 0 ? 0 : 1); }

}  // namespace qmx::app
