#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>

#include "app/about_unit.h"
#include "app/hex_edit.h"
#include "app/main_unit.h"
#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"
#include "image/hex_dump.h"
#include "image/intel_hex.h"
#include "image/file_io.h"
#include "image/raw_binary.h"
#include "image/srecord.h"

namespace qmx::app {

namespace {

enum class FileKind { kUnknown, kIntelHex, kSRecord, kBinary };

FileKind KindOfName(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == "bin") return FileKind::kBinary;
  if (suffix == "hex") return FileKind::kIntelHex;
  if (QStringList{"srec", "s19", "s28", "s37", "mot"}.contains(suffix)) return FileKind::kSRecord;
  return FileKind::kUnknown;
}

// Made when asked for, so they come in the window's language; Intel HEX
// first, the default as it always was.
QStringList FileFilters() {
  return {TMainUnit::tr("インテルHEXファイル(*.hex)"), TMainUnit::tr("Sレコードファイル(*.srec *.s19 *.s28 *.s37 *.mot)"),
          TMainUnit::tr("バイナリファイル(*.bin)")};
}

// The suffix a name typed without one gets under each filter.
QString SuffixOfFilter(int index) { return index == 1 ? "srec" : index == 2 ? "bin" : "hex"; }

// Text files of an unknown name are told apart by their first record.
bool LoadTextFile(const QString& path, FileKind kind, MemoryImage& image, std::int64_t* dropped) {
  constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;  // as the readers themselves allow
  const FileContents file = ReadWholeFile(path.toStdString(), kMaxFileBytes);
  if (file.status != FileReadStatus::kOk) return false;
  const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
  if (kind == FileKind::kSRecord || (kind == FileKind::kUnknown && LooksLikeSRecord(text))) {
    SRecordStats stats;
    const bool ok = ParseSRecord(text, image, &stats);
    *dropped = stats.droppedBytes;
    return ok;
  }
  IntelHexStats stats;
  const bool ok = ParseIntelHex(text, image, &stats);
  *dropped = stats.droppedBytes;
  return ok;
}

// Binary by its .bin name, S-record or Intel HEX by name or content.
// *dropped gets the data bytes beyond the part, which are left out (and said
// so) in every format.
bool LoadImageFile(const QString& path, MemoryImage& image, std::int64_t* dropped) {
  *dropped = 0;
  const FileKind kind = KindOfName(path);
  if (kind == FileKind::kBinary) {
    std::uint64_t beyond = 0;
    const bool ok = LoadBinaryCut(path.toStdString(), image, &beyond) == BinaryLoadStatus::kOk;
    *dropped = static_cast<std::int64_t>(beyond);
    return ok;
  }
  return LoadTextFile(path, kind, image, dropped);
}

QString DroppedLine(std::int64_t dropped) {
  return TMainUnit::tr("ファイルのデータがデバイスの容量を超えています（%1 バイトを無視しました）。").arg(dropped);
}

}  // namespace

TMainUnit::Reload TMainUnit::ReloadDataFile(bool reportDropped) {
  const QString file = edDataFile->text();
  if (file.isEmpty() || !QFileInfo(file).isFile()) return Reload::kNoFile;
  std::int64_t dropped = 0;
  if (!LoadImageFile(file, image_, &dropped)) return Reload::kFailed;
  if (reportDropped && dropped > 0) LogLine(DroppedLine(dropped));
  return Reload::kLoaded;
}

void TMainUnit::DataFileBtnClick() {
  if (opRunning_) return;
  QFileDialog dialog(this);
  dialog.setObjectName("OpenDlg");
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(FileFilters());
  dialog.setDefaultSuffix("hex");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  LoadDataFile(dialog.selectedFiles().front());
}

bool TMainUnit::LoadDataFile(const QString& path) {
  // An operation that started while the dialog was open has the image.
  if (opRunning_) return false;
  std::int64_t dropped = 0;
  if (!LoadImageFile(path, image_, &dropped)) {
    // Nothing of a damaged file is kept, so the field names no file either.
    image_.Clear();
    edDataFile->clear();
    statusPanels_[1]->clear();
    statusPanels_[2]->clear();
    LogLine(tr("HEXファイルの読み込みに失敗しました。"));
    return false;
  }
  const QFileInfo info(path);
  edDataFile->setText(info.absoluteFilePath());
  statusPanels_[1]->setText(info.fileName());
  LogLine("Hex Data:");
  for (const std::string& line : HexDumpLines(image_.Data(), static_cast<std::size_t>(image_.Size()),
                                              DumpLayoutFromIndex(DumpLayoutIndex())))
    LogLine(QString::fromStdString(line));
  const QString sum = QString::asprintf("checksum=%04X", image_.ImageSum());
  LogLine(sum);
  statusPanels_[2]->setText(sum);
  if (dropped > 0) LogLine(DroppedLine(dropped));
  return true;
}

void TMainUnit::mnSaveHexClick() {
  if (opRunning_) return;
  QFileDialog dialog(this);
  dialog.setObjectName("SaveDlg");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  const QStringList filters = FileFilters();
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix("hex");
  connect(&dialog, &QFileDialog::filterSelected, &dialog,
          [&](const QString& filter) { dialog.setDefaultSuffix(SuffixOfFilter(filters.indexOf(filter))); });
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the window asks its own question
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveDataFile(dialog.selectedFiles().front(), filters.indexOf(dialog.selectedNameFilter()));
}

bool TMainUnit::SaveDataFile(const QString& path, int filter) {
  if (QFileInfo::exists(path)) {
    QMessageBox ask(QMessageBox::Question, tr("ファイルの上書き"), tr("ファイルを上書きしてもよろしいですか？"),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    ask.setObjectName("OverwriteQuestion");
    if (ask.exec() != QMessageBox::Ok) return false;
  }
  if (opRunning_) return false;  // one started while a dialog was open reads or fills the image
  // A name of a known kind decides; else the filter chosen, else Intel HEX.
  FileKind kind = KindOfName(path);
  if (kind == FileKind::kUnknown) kind = filter == 1 ? FileKind::kSRecord : filter == 2 ? FileKind::kBinary : FileKind::kIntelHex;
  const std::string name = path.toStdString();
  const bool ok = kind == FileKind::kBinary    ? SaveBinary(image_, name)
                  : kind == FileKind::kSRecord ? SaveSRecord(image_, name)
                                               : SaveIntelHex(image_, name);
  // The file as it was stays intact on failure; the operator should know.
  if (!ok) LogLine(tr("ファイルの保存に失敗しました。"));
  return ok;
}

void TMainUnit::mnClearBufferClick() {
  if (opRunning_) return;
  image_.Clear();
  LogLine(tr("バッファをクリアしました。"));
}

void TMainUnit::mnLogClearClick() { Memo->clear(); }

void TMainUnit::mnHexEditorClick() {
  if (!link_.IsOpen() || opRunning_) return;
  hexEdit_->Open(&image_, image_.Size(), DumpLayoutIndex());
  hexEdit_->SetEditable([this] { return !opRunning_; });  // the operation thread owns the image meanwhile
  hexEdit_->exec();
}

void TMainUnit::mnVersionClick() {
  if (opRunning_) return;
  about_->SetAppVersion("1.00");
  QString firmware = "---";
  if (link_.IsOpen() && link_.Query(GET_VERSION, RESP_VERSION)) {
    const Answer& a = link_.Response();
    firmware = QString::fromStdString(VersionText(a.data[0], a.data[1]));
  }
  about_->SetFirmwareVersion(firmware);
  about_->exec();
}

}  // namespace qmx::app
