// The operator's side of the window against the simulated programmer: the
// Program sequence and its counters, single operations and their reports,
// the push switch, the error indication, progress and cancel.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "app/translations.h"
#include "app/window_metrics.h"
#include "tests/gui/operator_fixture.h"

class OperationsTest : public OperatorFixture {
  Q_OBJECT

 private slots:
  // As the program itself does: Qt's message-box buttons in Japanese.
  void initTestCase() { QVERIFY(qmx::app::InstallQtTranslations()); }
  void init() { SetUpFixture(); }
  void cleanup() { TearDownOperator(); }

  void programWithEraseLogsEveryStepAndCounts_data() {
    QTest::addColumn<QString>("part");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("page");
    AddTimingColumn();
    QTest::newRow("24C02") << "24C02" << 1 << 2 << "1" << false;
    // A 5 ms write cycle per page: each step, and the sequence, ends only
    // once the programmer has carried out the last write.
    QTest::newRow("24C02 paced") << "24C02" << 1 << 2 << "8" << true;
    QTest::newRow("93C46 paced") << "93C46" << 0 << 1 << "1" << true;
  }
  void programWithEraseLogsEveryStepAndCounts() {
    QFETCH(QString, part);
    QFETCH(int, type);
    QFETCH(int, device);
    QFETCH(QString, page);
    FetchTiming();
    Connect("QMX-71A", part.toLocal8Bit().constData(), type, device);
    w_->findChild<QLineEdit*>("edPageSize")->setText(page);
    const std::size_t size = sim_->PartContents().size();
    const auto data = Pattern(size, 1);
    QVERIFY(w_->LoadDataFile(HexFile("data.hex", data)));
    w_->mnLogClearClick();
    QVERIFY(sim_->SetPartContents(std::vector<std::uint8_t>(size, 0x00)));
    w_->ProgBtnClick();
    QVERIFY(w_->Busy());
    QVERIFY(!w_->findChild<QToolButton*>("ReadBtn")->isEnabled() ||
            !w_->findChild<QWidget*>("Panel2")->isEnabled());
    QVERIFY(WaitDone());
    const QStringList log = w_->LogLines();
    QCOMPARE(log.front(), QString("----- プログラムカウント 1 -----"));
    QVERIFY2(InOrder(log, {"----- プログラムカウント 1 -----", "デバイス消去が完了しました。", "デバイスはブランクです。",
                           "書き込みが完了しました。", "データはバッファと同一です。", "-- プログラム正常終了 --"}),
             qPrintable(log.join("\n")));
    QCOMPARE(log.back(), QString("-- プログラム正常終了 --"));
    QCOMPARE(Counters(), QString("1/1/0"));
    QVERIFY(!w_->Busy());
    QCOMPARE(sim_->PartContents(), data);
    QVERIFY(w_->findChild<QWidget*>("Panel2")->isEnabled());

    // Without erasing: write and compare only; the count line counts on.
    w_->findChild<QComboBox*>("cbProgramMode")->setCurrentIndex(0);
    w_->mnLogClearClick();
    w_->ProgBtnClick();
    QVERIFY(WaitDone());
    const QStringList second = w_->LogLines();
    QCOMPARE(second.front(), QString("----- プログラムカウント 2 -----"));
    QVERIFY(!second.contains("デバイス消去が完了しました。"));
    QVERIFY(!second.contains("デバイスはブランクです。"));
    QVERIFY(InOrder(second, {"書き込みが完了しました。", "データはバッファと同一です。", "-- プログラム正常終了 --"}));
    QCOMPARE(Counters(), QString("2/2/0"));

    w_->findChild<QPushButton*>("ClearBtn")->click();
    QCOMPARE(Counters(), QString("0/0/0"));
  }

  void failingEraseWritesNothing_data() { TimingRows(); }
  void failingEraseWritesNothing() {
    FetchTiming();
    Connect("QMX-71A", "93C46", 0, 1);
    sim_->RemovePart();
    Synced(*w_);
    sim_->ClearLog();
    w_->mnLogClearClick();
    w_->ProgBtnClick();
    QVERIFY(WaitDone());
    const QStringList log = w_->LogLines();
    QVERIFY(log.contains("デバイスが挿入されていません。"));
    QVERIFY(!log.contains("-- プログラム正常終了 --"));
    QVERIFY(!log.contains("書き込みが完了しました。"));
    QCOMPARE(Counters(), QString("1/0/1"));
    // Only the erase's set-up reached the programmer: no write command at all.
    const Log sent = Synced(*w_);
    QCOMPARE(Of(sent, qmx::sim::WRITE_DONE).size(), std::size_t{0});
    QCOMPARE(Of(sent, qmx::sim::CHK_DEVICE).size(), std::size_t{1});
  }

  void singleOperationsReportPerFamily_data() {
    QTest::addColumn<QString>("part");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("device");
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("page");
    AddTimingColumn();
    QTest::newRow("93C46 words") << "93C46" << 0 << 1 << 2 << "1" << false;
    QTest::newRow("9016") << "9016" << 0 << 11 << 2 << "1" << false;
    QTest::newRow("24C64") << "24C64" << 1 << 7 << 0 << "32" << false;
    QTest::newRow("25C160") << "25C160" << 2 << 4 << 0 << "16" << false;
    QTest::newRow("93C46 paced") << "93C46" << 0 << 1 << 2 << "1" << true;
    QTest::newRow("24C02 paced") << "24C02" << 1 << 2 << 0 << "8" << true;
    QTest::newRow("25C010 paced") << "25C010" << 2 << 0 << 0 << "16" << true;
  }
  void singleOperationsReportPerFamily() {
    QFETCH(QString, part);
    QFETCH(int, type);
    QFETCH(int, device);
    QFETCH(int, layout);
    QFETCH(QString, page);
    FetchTiming();
    Connect("QMX-71C", part.toLocal8Bit().constData(), type, device);
    const std::size_t size = sim_->PartContents().size();
    const auto data = Pattern(size, 3);
    QVERIFY(sim_->SetPartContents(data));
    w_->mnLogClearClick();
    w_->ReadBtnClick();
    QVERIFY(WaitDone());
    const QStringList log = w_->LogLines();
    const int header = static_cast<int>(log.indexOf("読出しデータ:"));
    QVERIFY2(header >= 0, qPrintable(log.join("\n")));
    QCOMPARE(log.size() - header - 2, static_cast<int>(size / 16));  // header, 16 bytes a line, checksum
    const std::uint16_t sum = static_cast<std::uint16_t>(std::accumulate(data.begin(), data.end(), 0u) & 0xFFFF);
    QCOMPARE(log.back(), QString::asprintf("checksum=%04X", sum));
    QCOMPARE(w_->StatusText(2), QString::asprintf("checksum=%04X", sum));
    QVERIFY(std::equal(data.begin(), data.end(), w_->Image().Data()));
    const QString first = log[header + 1];
    if (layout == 0) {
      QCOMPARE(first.left(9), QString::asprintf("00000:%02X ", data[0]));
    } else {
      QCOMPARE(first.left(10), QString::asprintf("00000:%02X%02X", data[0], data[1]));  // big-endian words
    }

    // The other operations on the part just read. Each is judged on the part
    // as it was left, with no sync first: an operation ends only once the
    // programmer has carried out its last page.
    w_->findChild<QLineEdit*>("edPageSize")->setText(page);
    auto run = [&](void (TMainUnit::*click)()) {
      (w_.get()->*click)();
      if (!WaitDone()) return QString("(still running)");
      const QStringList lines = w_->LogLines();
      return lines.isEmpty() ? QString() : lines.back();
    };
    QCOMPARE(run(&TMainUnit::EraseBtnClick), QString("デバイス消去が完了しました。"));
    QCOMPARE(sim_->PartContents(), std::vector<std::uint8_t>(size, 0xFF));
    QCOMPARE(run(&TMainUnit::BlankChkBtnClick), QString("デバイスはブランクです。"));
    QCOMPARE(run(&TMainUnit::WriteBtnClick), QString("書き込みが完了しました。"));  // the image read above
    QCOMPARE(sim_->PartContents(), data);
    QCOMPARE(run(&TMainUnit::CompareBtnClick), QString("データはバッファと同一です。"));
    QCOMPARE(run(&TMainUnit::mnCheckSumClick), QString::asprintf("checksum=%04X", sum));
  }

  void compareAfterClearingTheBufferOnABlankPart() {
    Connect("QMX-71C", "25C080", 2, 3);
    QVERIFY(sim_->SetPartContents(std::vector<std::uint8_t>(1024, 0xFF)));
    w_->Image().Data()[5] = 0x12;
    w_->mnClearBufferClick();
    QCOMPARE(w_->LogLines().back(), QString("バッファをクリアしました。"));
    w_->CompareBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(w_->LogLines().back(), QString("データはバッファと同一です。"));
  }

  void pushSwitchStartsOneSequenceAndAPressDuringItIsDropped_data() { TimingRows(); }
  void pushSwitchStartsOneSequenceAndAPressDuringItIsDropped() {
    FetchTiming();
    // A 93C66 in the socket while 93C46 is chosen: the set-up asks whether
    // to go on, and the sequence waits on that question.
    Connect("QMX-71A", "93C66", 0, 1, "93C46");
    w_->mnLogClearClick();
    // The question runs its own event loop: what happens while it is open is
    // done from timers inside that loop.
    int asked = 0;
    QString cancelText;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || asked > 0) return;
      ++asked;
      cancelText = box->button(QMessageBox::Cancel)->text();
      QVERIFY(w_->Busy());
      sim_->PressSwitch();  // a second press while the question is open
      sim_->ReleaseSwitch();
      QTimer::singleShot(2300, box, [box] { box->button(QMessageBox::Cancel)->click(); });  // two poll ticks
    });
    watch.start(20);
    sim_->PressSwitch();
    sim_->ReleaseSwitch();
    QTRY_VERIFY_WITH_TIMEOUT(asked == 1, 5000);
    QCOMPARE(cancelText, QString("キャンセル"));
    QVERIFY(WaitDone());
    watch.stop();
    QTest::qWait(1300);  // a tick after the sequence: the dropped press stays dropped
    QVERIFY(!w_->OperationRunning());
    QCOMPARE(w_->LogLines().count("----- プログラムカウント 1 -----"), 1);
    QVERIFY(!w_->LogLines().contains("----- プログラムカウント 2 -----"));
    QCOMPARE(Counters(), QString("1/0/1"));
  }

  // Start on insertion: each part put into the socket runs the sequence once;
  // one already there when the option goes on, or left in after its run, does not.
  void insertingAPartStartsOneSequencePerInsertion() {
    Connect("QMX-71A", "93C46", 0, 1);
    w_->findChild<QCheckBox*>("cbAutoStart")->setChecked(true);
    auto tick = [&] {
      w_->ConnectTimerTimer();
      QVERIFY(WaitDone());
    };
    tick();
    QCOMPARE(Counters(), QString("0/0/0"));  // it was in before the option
    for (int part = 1; part <= 2; ++part) {
      sim_->RemovePart();
      tick();
      QVERIFY(sim_->InsertPart("93C46"));
      tick();
      tick();  // still in after its run
      QCOMPARE(Counters(), QString("%1/%1/0").arg(part));
    }
    QCOMPARE(w_->LogLines().count("-- プログラム正常終了 --"), 2);
  }

  // A part that fails keeps its number for the next one; every run has its log line.
  void serialNumbersAreSpentOnlyOnVerifiedPartsAndEveryRunIsLogged() {
    Connect("QMX-71C", "24C64", 1, 7);
    auto text = [&](const char* name, const QString& value) { w_->findChild<QLineEdit*>(name)->setText(value); };
    w_->findChild<QCheckBox*>("cbSerial")->setChecked(true);
    text("edSerialAt", "1FFE");  // the part's last two bytes
    text("edSerialStart", "4660");
    w_->findChild<QComboBox*>("cbSerialFormat")->setCurrentText("be16");
    text("edSerialState", dir_->filePath("series.state"));
    text("edRunLog", dir_->filePath("runs.csv"));
    auto serialInPart = [&] {
      const auto bytes = sim_->PartContents();
      return bytes.at(0x1FFE) * 256 + bytes.at(0x1FFF);
    };
    w_->ProgBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(serialInPart(), 4660);
    sim_->RemovePart();
    w_->ProgBtnClick();
    QVERIFY(WaitDone());
    QVERIFY(sim_->InsertPart("24C64"));
    w_->ProgBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(serialInPart(), 4661);
    QCOMPARE(Counters(), QString("3/2/1"));

    QFile log(dir_->filePath("runs.csv"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith("time,model,port,part,"));
    const QStringList expected[] = {{"4660", "passed", ""}, {"4661", "failed", "erase"}, {"4661", "passed", ""}};
    for (int run = 0; run < 3; ++run) {
      const QStringList f = lines[run + 1].split(',');
      QCOMPARE(f.value(3), QString("24C64"));
      QCOMPARE((QStringList{f.value(6), f.value(7), f.value(8)}), expected[run]);
    }
  }

  void errorIndicationReturnsToReadyThreeSecondsAfterTheFirstFailure() {
    Connect("QMX-71A", "93C46", 0, 1);
    sim_->RemovePart();
    Synced(*w_);
    sim_->ClearLog();
    QElapsedTimer t;
    t.start();
    w_->EraseBtnClick();
    QVERIFY(WaitDone());
    QTest::qWait(1000 - static_cast<int>(t.elapsed()));
    w_->EraseBtnClick();  // a second failure a second later
    QVERIFY(WaitDone());
    auto ledCodes = [&] {
      std::vector<int> codes;
      for (const auto& c : Of(sim_->Log(), qmx::sim::DEV_CTRL))
        if (c.args.at(0) >= 12) codes.push_back(c.args.at(0));
      return codes;
    };
    QCOMPARE(ledCodes(), (std::vector<int>{15, 15}));
    while (ledCodes().size() < 3 && t.elapsed() < 6000) QTest::qWait(10);
    const qint64 ready = t.elapsed();
    QCOMPARE(ledCodes(), (std::vector<int>{15, 15, 13}));
    QVERIFY2(ready >= 2900 && ready < 3800, qPrintable(QString::number(ready)));

    // The return to ON falls due while a Compare runs, and that Compare fails
    // too: its ERROR is shown for an interval of its own, not put out at once.
    w_->findChild<QTimer*>("ErrorTimer")->setInterval(300);
    QVERIFY(sim_->InsertPart("93C46"));
    w_->Image().Data()[0] = 0x12;
    sim_->ClearLog();
    w_->CompareBtnClick();
    QVERIFY(WaitDone());
    sim_->DelayNextAnswer(qmx::sim::READ_DATA, std::chrono::milliseconds(600));
    w_->CompareBtnClick();
    QVERIFY(WaitDone());
    Synced(*w_);
    QCOMPARE(sim_->State().led, std::uint8_t{15});
    QTest::qWait(800);
    QCOMPARE(ledCodes(), (std::vector<int>{15, 15, 13}));
  }

  void longWorkShowsProgressAndLocksTheControls() {
    Connect("QMX-71C", "24C64", 1, 7);
    // At the smallest height, extended panels open: the progress row must
    // not push them over the operation buttons.
    w_->findChild<QAction*>("mnExtPanel")->trigger();
    w_->resize(w_->width(), w_->minimumHeight());
    auto* bar = w_->findChild<QProgressBar*>("ProgressBar");
    auto* label = w_->findChild<QLabel*>("ProgressLabel");
    auto* sumPanel = w_->findChild<QLabel*>("StatusPanel2");
    auto* top = w_->findChild<QWidget*>("Panel2");
    auto* ext = w_->findChild<QWidget*>("ExtPanel");
    auto* log = w_->findChild<QWidget*>("Panel1");
    QVERIFY(!bar->isVisible());
    QVERIFY(!w_->findChild<QPushButton*>("CancelBtn")->isEnabled());
    int seenMax = 0;
    bool locked = false, named = true, sumRoom = true, clear = true;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] {
      if (!w_->OperationRunning()) return;
      seenMax = std::max(seenMax, bar->maximum());
      locked = locked || !top->isEnabled();
      named = named && label->text().startsWith("読み出し");
      sumRoom = sumRoom && sumPanel->contentsRect().width() >= sumPanel->fontMetrics().horizontalAdvance("checksum=WWWW");
      clear = clear && top->height() == qmx::app::kTopPanelHeight && ext->y() > top->geometry().bottom() &&
              log->y() > ext->geometry().bottom();
    });
    sample.start(5);
    w_->ReadBtnClick();
    QVERIFY(bar->isVisible());
    QVERIFY(w_->findChild<QPushButton*>("CancelBtn")->isEnabled());
    for (const char* name : {"mnVersion", "mnHexEditor", "mnClearBuffer", "mnSaveHex", "mnCheckSum"})
      QVERIFY2(!w_->findChild<QAction*>(name)->isEnabled(), name);  // their shortcuts too
    w_->ReadBtnClick();  // refused while the first runs
    w_->EraseBtnClick();
    QVERIFY(WaitDone());
    sample.stop();
    QVERIFY(locked);
    QVERIFY(seenMax > 1);
    QVERIFY2(named, qPrintable(label->text()));
    QVERIFY(label->text().contains("%"));
    QVERIFY(sumRoom);
    QVERIFY(clear);
    QVERIFY(!bar->isVisible());
    QVERIFY(!w_->findChild<QPushButton*>("CancelBtn")->isEnabled());
    QCOMPARE(w_->LogLines().count("読出しデータ:"), 1);
    QVERIFY(w_->findChild<QAction*>("mnVersion")->isEnabled());
    QVERIFY(w_->findChild<QAction*>("mnSaveHex")->isEnabled());
  }

  // A part that takes tens of seconds to write, page by page, against the
  // programmer's own pace; the cancel comes once the pages are going out.
  void cancelStopsThePassAndSwitchesTheSupplyOff_data() {
    QTest::addColumn<bool>("program");
    QTest::addColumn<bool>("escape");
    QTest::newRow("program, 中止") << true << false;
    QTest::newRow("write, Esc") << false << true;
  }
  void cancelStopsThePassAndSwitchesTheSupplyOff() {
    QFETCH(bool, program);
    QFETCH(bool, escape);
    timing_ = qmx::sim::Timing::kReal;
    Connect("QMX-71C", "24C64", 1, 7);
    w_->findChild<QLineEdit*>("edPageSize")->setText("1");
    w_->findChild<QComboBox*>("cbProgramMode")->setCurrentIndex(0);
    const auto data = Pattern(8192, 6);
    QVERIFY(w_->LoadDataFile(HexFile("data.hex", data)));
    QVERIFY(sim_->SetPartContents(std::vector<std::uint8_t>(8192, 0x00)));
    w_->mnLogClearClick();
    w_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    auto* cancel = w_->findChild<QPushButton*>("CancelBtn");
    (w_.get()->*(program ? &TMainUnit::ProgBtnClick : &TMainUnit::WriteBtnClick))();
    QTRY_VERIFY_WITH_TIMEOUT(w_->findChild<QProgressBar*>("ProgressBar")->value() > 0, 5000);
    QElapsedTimer pressed;
    pressed.start();
    if (escape) {
      QTest::keyClick(w_.get(), Qt::Key_Escape);
    } else {
      cancel->click();
    }
    // Only the pages of the last checkpoint intervals are still on their
    // way (the whole pass would take over 40 s; without the checkpoints the
    // port's buffers alone held some 3 s of write cycles).
    while (w_->OperationRunning() && pressed.elapsed() < 10000) QTest::qWait(5);
    qInfo("cancel took %lld ms", pressed.elapsed());
    QVERIFY2(pressed.elapsed() < 1000, qPrintable(QString::number(pressed.elapsed())));
    QTest::qWait(20);
    const QStringList log = w_->LogLines();
    QVERIFY2(log.contains("中止しました。"), qPrintable(log.join("\n")));
    QVERIFY(!log.contains("書き込みが完了しました。"));
    QVERIFY(!log.contains("データはバッファと同一です。"));  // no step after the cancelled one
    QCOMPARE(Counters(), QString(program ? "1/0/1" : "0/0/0"));
    Synced(*w_);
    QVERIFY(!sim_->State().supplyOn);
    const auto part = sim_->PartContents();
    QVERIFY(std::mismatch(part.begin(), part.end(), data.begin()).first - part.begin() < 4096);
    QVERIFY(!cancel->isEnabled());
    // The next operation finds the programmer with nothing left over.
    w_->mnLogClearClick();
    w_->mnCheckSumClick();
    QVERIFY(WaitDone());
    QVERIFY2(w_->LogLines().join("\n").contains("checksum="), qPrintable(w_->LogLines().join("\n")));
  }
};

QTEST_MAIN(OperationsTest)
#include "operations_test.moc"
