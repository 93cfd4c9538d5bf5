// The window's data files, hex editor and log against the simulated
// programmer: loads in each format and what they refuse or leave out,
// saves that ask first and follow the name or the filter, the checksum with
// digests, an editor that a switch press cannot race, and a log
// that follows its end.
#include <QAction>
#include <QCryptographicHash>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <algorithm>
#include <numeric>

#include "app/hex_edit.h"
#include "image/digests.h"
#include "image/srecord.h"
#include "app/translations.h"
#include "tests/gui/operator_fixture.h"

class DataFilesTest : public OperatorFixture {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(qmx::app::InstallQtTranslations()); }
  void init() { SetUpFixture(); }
  void cleanup() { TearDownOperator(); }

  void aDamagedFileIsNeverWrittenInPart() {
    Connect("QMX-71A", "24C02", 1, 2);
    const QString path = HexFile("data.hex", Pattern(256, 4));
    QVERIFY(w_->LoadDataFile(path));
    WriteFile(path, ":0400000001020304F0\r\n:00000001FF\r\n");  // bad checksum now
    Synced(*w_);
    sim_->ClearLog();
    w_->mnLogClearClick();
    w_->WriteBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(w_->LogLines().back(), QString("HEXファイルの読み込みに失敗しました。"));
    w_->ProgBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(Counters(), QString("1/0/1"));
    QVERIFY(InOrder(w_->LogLines(), {"----- プログラムカウント 1 -----", "HEXファイルの読み込みに失敗しました。"}));
    const Log sent = Synced(*w_);
    QCOMPARE(Of(sent, qmx::sim::SET_MODE).size() + Of(sent, qmx::sim::WRITE_DONE).size(), std::size_t{0});

    // A file deleted since keeps the current image and writes it.
    QFile::remove(path);
    w_->WriteBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(w_->LogLines().back(), QString("書き込みが完了しました。"));
  }

  void dataFilesLoadSaveAndAskBeforeReplacing() {
    Connect("QMX-71C", "24C04", 1, 3);
    const auto data = Pattern(512, 5);
    const QString hex = HexFile("in.hex", data);
    w_->mnLogClearClick();
    QVERIFY(w_->LoadDataFile(hex));
    const QStringList log = w_->LogLines();
    QCOMPARE(log.front(), QString("Hex Data:"));
    QCOMPARE(log.size(), 1 + 32 + 1);
    const QString sum =
        QString::asprintf("checksum=%04X", std::accumulate(data.begin(), data.end(), 0u) & 0xFFFF);
    QCOMPARE(log.back(), sum);
    QCOMPARE(w_->StatusText(1), QString("in.hex"));
    QCOMPARE(w_->StatusText(2), sum);
    QCOMPARE(w_->findChild<QLineEdit*>("edDataFile")->text(), hex);

    // A failed load clears the image, says so and names no file: the field tells what the image holds.
    const QString bad = dir_->filePath("bad.hex");
    WriteFile(bad, ":0400000001020304F0\r\n");
    w_->mnLogClearClick();
    QVERIFY(!w_->LoadDataFile(bad));
    QCOMPARE(w_->LogLines(), QStringList{"HEXファイルの読み込みに失敗しました。"});
    QCOMPARE(w_->Image().Data()[0], std::uint8_t{0xFF});
    QVERIFY(w_->findChild<QLineEdit*>("edDataFile")->text().isEmpty());
    QVERIFY(w_->StatusText(1).isEmpty());

    // Data beyond the part is loaded up to the part's end and reported.
    QVERIFY(w_->LoadDataFile(HexFile("long.hex", Pattern(520, 5))));
    QCOMPARE(w_->LogLines().back(), QString("ファイルのデータがデバイスの容量を超えています（8 バイトを無視しました）。"));

    // Binary files through the same command; a part change reloads them as binary, and one longer than
    // the new part is cut at its end and said so, as a HEX file is.
    const QString bin = dir_->filePath("in.bin");
    WriteFile(bin, QByteArray(reinterpret_cast<const char*>(data.data()), 512));
    QVERIFY(w_->LoadDataFile(bin));
    QVERIFY(std::equal(data.begin(), data.end(), w_->Image().Data()));
    auto* device = w_->findChild<QComboBox*>("cbDevice");
    device->setCurrentIndex(4);  // 24C08
    w_->cbDeviceChange();
    QVERIFY(std::equal(data.begin(), data.end(), w_->Image().Data()));
    QCOMPARE(w_->Image().Data()[512], std::uint8_t{0xFF});
    device->setCurrentIndex(2);  // 24C02
    w_->cbDeviceChange();
    QCOMPARE(w_->LogLines().back(), QString("ファイルのデータがデバイスの容量を超えています（256 バイトを無視しました）。"));
    QVERIFY(std::equal(data.begin(), data.begin() + 256, w_->Image().Data()));
    device->setCurrentIndex(3);
    w_->cbDeviceChange();
    WriteFile(bin, QByteArray(513, 'x'));
    QVERIFY(w_->LoadDataFile(bin));
    QCOMPARE(w_->LogLines().back(), QString("ファイルのデータがデバイスの容量を超えています（1 バイトを無視しました）。"));

    // Saving onto an existing file asks; Cancel leaves it as it was.
    QVERIFY(w_->LoadDataFile(hex));
    const QString out = dir_->filePath("out.hex");
    WriteFile(out, "keep me");
    int asked = 0;
    AnswerNextBox(QMessageBox::Cancel, &asked);
    QVERIFY(!w_->SaveDataFile(out));
    QCOMPARE(asked, 1);
    QCOMPARE(ReadFile(out), QByteArray("keep me"));
    AnswerNextBox(QMessageBox::Ok, &asked);
    QVERIFY(w_->SaveDataFile(out));
    QCOMPARE(asked, 2);
    QCOMPARE(ReadFile(out), QByteArray::fromStdString(qmx::FormatIntelHex(data.data(), 512)));
    // A save that cannot be written is reported.
    w_->mnLogClearClick();
    QVERIFY(!w_->SaveDataFile(dir_->filePath("no/such/folder/x.hex")));
    QCOMPARE(w_->LogLines().back(), QString("ファイルの保存に失敗しました。"));
  }

  // S-records by name or, under another name, by content; saved by name or
  // by the filter chosen, Intel HEX staying the first filter and the default.
  void sRecordFilesLoadAndSave() {
    Connect("QMX-71C", "24C04", 1, 3);
    const auto data = Pattern(512, 7);
    const QByteArray srec = QByteArray::fromStdString(qmx::FormatSRecordRange(data.data(), 0, 512));
    for (const char* name : {"in.s19", "in.mot", "in.txt"}) {
      const QString path = dir_->filePath(name);
      WriteFile(path, srec);
      w_->mnClearBufferClick();
      QVERIFY2(w_->LoadDataFile(path), name);
      QVERIFY2(std::equal(data.begin(), data.end(), w_->Image().Data()), name);
    }
    QByteArray damaged = srec;
    damaged[20] = damaged[20] == '0' ? '1' : '0';
    WriteFile(dir_->filePath("bad.srec"), damaged);
    QVERIFY(!w_->LoadDataFile(dir_->filePath("bad.srec")));
    QCOMPARE(w_->Image().Data()[0], std::uint8_t{0xFF});

    QVERIFY(w_->LoadDataFile(dir_->filePath("in.s19")));
    QVERIFY(w_->SaveDataFile(dir_->filePath("out.mot")));
    QCOMPARE(ReadFile(dir_->filePath("out.mot")), srec);
    QVERIFY(w_->SaveDataFile(dir_->filePath("out.dat"), 1));
    QCOMPARE(ReadFile(dir_->filePath("out.dat")), srec);
    QVERIFY(w_->SaveDataFile(dir_->filePath("out.hex"), 1));  // the name wins over the filter
    QCOMPARE(ReadFile(dir_->filePath("out.hex")), QByteArray::fromStdString(qmx::FormatIntelHex(data.data(), 512)));

    // Through the dialog: a name typed without a suffix takes the chosen filter's.
    QStringList filters;
    QTimer::singleShot(100, [&] {
      auto* dialog = w_->findChild<QFileDialog*>("SaveDlg");
      if (dialog == nullptr) return;
      filters = dialog->nameFilters();
      // As the operator picks it: the list's own signals, which selectNameFilter does not send.
      auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
      if (types == nullptr) return dialog->reject();
      types->setCurrentIndex(1);
      emit types->activated(1);
      emit types->textActivated(types->itemText(1));
      dialog->setDirectory(dir_->path());
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText("typed");
      static_cast<QDialog*>(dialog)->accept();  // public there, and still the file dialog's own
    });
    w_->mnSaveHexClick();
    QCOMPARE(filters.value(0), QString("インテルHEXファイル(*.hex)"));
    QCOMPARE(filters.size(), 3);
    QCOMPARE(ReadFile(dir_->filePath("typed.srec")), srec);
  }

  // The digests of the part, not of the buffer, which stays as it was.
  void checksumWithDigestsReadsThePart() {
    Connect("QMX-71C", "24C16", 1, 5);
    const auto part = Pattern(2048, 8);
    QVERIFY(sim_->SetPartContents(part));
    auto* digests = w_->findChild<QAction*>("mnDigests");
    QVERIFY(digests != nullptr && digests->isEnabled());
    w_->mnLogClearClick();
    digests->trigger();
    QVERIFY(WaitDone());
    const QByteArray bytes(reinterpret_cast<const char*>(part.data()), 2048);
    QCOMPARE(w_->LogLines(),
             (QStringList{QString::asprintf("checksum=%04X", std::accumulate(part.begin(), part.end(), 0u) & 0xFFFF),
                          QString::asprintf("CRC-32=%08X", qmx::Crc32(part.data(), part.size())),
                          "SHA-256=" + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()}));
    QCOMPARE(w_->Image().Data()[0], std::uint8_t{0xFF});
    // A failed read says so, as Checksum does, and logs no digest.
    sim_->RemovePart();
    w_->mnLogClearClick();
    digests->trigger();
    QVERIFY(WaitDone());
    QVERIFY(!w_->LogLines().join('\n').contains("SHA-256"));
    QVERIFY(!w_->LogLines().isEmpty());
    w_->DisconnectDevice();
    QVERIFY(!digests->isEnabled());
  }

  void hexEditorOnlyWhileConnectedAndInTheDataMode() {
    Connect("QMX-71C", "93C46", 0, 1);
    bool shown = false;
    int view = -1;
    QTimer::singleShot(100, [&] {
      auto* editor = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      shown = editor == w_->HexEditor();
      view = w_->HexEditor()->DataMode();
      if (!editor) return;
      // The switch under the open editor: the poll ticks meanwhile and must start nothing.
      sim_->PressSwitch();
      sim_->ReleaseSwitch();
      QTimer::singleShot(1300, editor, [editor] { editor->close(); });
    });
    w_->mnHexEditorClick();
    QVERIFY(shown);
    QCOMPARE(view, 2);  // the Microwire data mode
    QVERIFY(WaitDone());
    QTest::qWait(1100);  // nor at the tick after it closed
    QVERIFY(!w_->OperationRunning());
    QVERIFY(!w_->LogLines().contains("----- プログラムカウント 1 -----"));
    QCOMPARE(Counters(), QString("0/0/0"));
    // Changing the editor's view leaves the window's data mode alone.
    w_->HexEditor()->SetDataMode(0);
    QCOMPARE(w_->findChild<QComboBox*>("cbMcwDataMode")->currentIndex(), 2);

    w_->DisconnectDevice();
    bool opened = false;
    QTimer::singleShot(100, [&] {
      opened = QApplication::activeModalWidget() != nullptr;
      if (opened) QApplication::activeModalWidget()->close();
    });
    w_->mnHexEditorClick();
    QTest::qWait(150);
    QVERIFY(!opened);
  }

  void logFollowsItsEndUnlessScrolledUp() {
    Connect("QMX-71C", "24C16", 1, 5);
    auto* bar = w_->findChild<QPlainTextEdit*>("Memo")->verticalScrollBar();
    w_->ReadBtnClick();
    QVERIFY(WaitDone());
    QVERIFY(bar->maximum() > 0);
    // The extended panel takes room from the log: it still follows afterwards.
    w_->findChild<QAction*>("mnExtPanel")->trigger();
    QTest::qWait(50);
    w_->ReadBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(bar->value(), bar->maximum());
    // Scrolled up to read, the operator keeps the place.
    bar->setValue(10);
    w_->ReadBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(bar->value(), 10);
    bar->setValue(bar->maximum());
    w_->ReadBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(bar->value(), bar->maximum());
  }
};

QTEST_MAIN(DataFilesTest)
#include "data_files_test.moc"
