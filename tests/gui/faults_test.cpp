// The fault table against the desktop program: each fault, on both paces,
// ends the connect or the operation within the bound in a reported failure
// or a true success, starts no Program sequence of its own, and the window
// connects again by itself and reads the part correctly.
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

#include "app/translations.h"
#include "tests/fault/fault_table.h"
#include "tests/gui/operator_fixture.h"

using qmx::fault::Expect;
using qmx::fault::Faults;
using qmx::fault::Step;

class FaultsTest : public OperatorFixture {
  Q_OBJECT

  static constexpr int kBoundMs = 5000;
  static constexpr int kPartSize = 256;

  // The window's own answer window, never the widened one of the other tests.
  void ConnectTo24C02() {
    Connect("QMX-71C", "24C02", 1, 2);
    w_->Link().SetAnswerWindowMs(0);
    w_->findChild<QLineEdit*>("edPageSize")->setText("8");
    w_->findChild<QComboBox*>("cbMaxWriteTime")->setCurrentIndex(1);  // 10 ms
  }

  bool ReadSucceeded() const { return w_->LogLines().contains("読出しデータ:"); }
  bool PartEqualsImage() const {
    const auto part = sim_->PartContents();
    return std::equal(part.begin(), part.end(), w_->Image().Data());
  }

 private slots:
  void initTestCase() { QVERIFY(qmx::app::InstallQtTranslations()); }
  void init() { SetUpFixture(); }
  void cleanup() { TearDownOperator(); }

  void eachFaultEndsInAReportOrATruth_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("real");
    for (int f = 0; f < static_cast<int>(Faults().size()); ++f)
      for (bool real : {false, true})
        QTest::newRow(qPrintable(QString::fromStdString(Faults()[f].name) + (real ? " paced" : " instant")))
            << f << real;
  }
  void eachFaultEndsInAReportOrATruth() {
    QFETCH(int, fault);
    QFETCH(bool, real);
    const qmx::fault::Fault& f = Faults()[static_cast<std::size_t>(fault)];
    const Expect expect = real ? f.real : f.instant;
    timing_ = real ? qmx::sim::Timing::kReal : qmx::sim::Timing::kInstant;
    const auto data = Pattern(kPartSize, 9);
    bool reported = false;
    QElapsedTimer took;
    if (f.step == Step::kConnect) {
      StartSim("QMX-71C");
      QVERIFY(sim_->InsertPart("24C02"));
      f.arm(*sim_);
      qmx::fault::Trigger trigger(*sim_, f);
      took.start();
      w_ = Window();
      while (!trigger.Fired() && took.elapsed() < kBoundMs) QTest::qWait(10);
      QTest::qWait(300);  // the try that lost its programmer ends
      reported = w_->Connected();
    } else {
      ConnectTo24C02();
      QVERIFY(sim_->SetPartContents(Pattern(kPartSize, 2)));
      QVERIFY(w_->LoadDataFile(HexFile("data.hex", data)));
      w_->mnLogClearClick();
      f.arm(*sim_);
      qmx::fault::Trigger trigger(*sim_, f);
      took.start();
      (w_.get()->*(f.step == Step::kRead ? &TMainUnit::ReadBtnClick : &TMainUnit::WriteBtnClick))();
      QVERIFY(WaitDone(kBoundMs + 5000));
      reported = f.step == Step::kRead ? ReadSucceeded() : w_->LogLines().contains("書き込みが完了しました。");
    }
    QVERIFY2(took.elapsed() < kBoundMs, qPrintable(QString::number(took.elapsed())));
    if (expect == Expect::kFailure) QVERIFY2(!reported, qPrintable(w_->LogLines().join("\n")));
    if (expect == Expect::kSuccess) QVERIFY2(reported, qPrintable(w_->LogLines().join("\n")));
    // A vanished programmer is noticed before it comes back; without this a
    // quick replug could find the window still holding the old port.
    if (!sim_->Plugged()) QTRY_VERIFY_WITH_TIMEOUT(!w_->Connected(), kBoundMs);
    f.recover(*sim_);
    QVERIFY(sim_->WaitIdle(std::chrono::seconds(5)));
    if (reported && f.step == Step::kRead) QVERIFY(PartEqualsImage());
    if (reported && f.step == Step::kWrite) QVERIFY(std::equal(data.begin(), data.end(), sim_->PartContents().begin()));

    // The poll finds the programmer again with the same choices, and no
    // switch press from during the fault starts a sequence.
    QVERIFY(WaitConnected(*w_, 6000));
    if (f.step == Step::kConnect) {  // never connected before: the defaults show
      w_->findChild<QComboBox*>("cbType")->setCurrentIndex(1);
      w_->cbTypeChange();
      w_->findChild<QComboBox*>("cbDevice")->setCurrentIndex(2);
      w_->cbDeviceChange();
    }
    QCOMPARE(w_->findChild<QComboBox*>("cbDevice")->currentText(), QString("24C02"));
    w_->findChild<QCheckBox*>("chVppOut")->setChecked(true);
    w_->mnLogClearClick();
    w_->ReadBtnClick();
    QVERIFY(WaitDone());
    QVERIFY2(ReadSucceeded(), qPrintable(w_->LogLines().join("\n")));
    QVERIFY(PartEqualsImage());
    QCOMPARE(Counters(), QString("0/0/0"));
  }
};

QTEST_MAIN(FaultsTest)
#include "faults_test.moc"
