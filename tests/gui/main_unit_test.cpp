// The main window against the simulated programmer on a pseudo-terminal:
// start state, connecting by itself, model and families, supply, unplug and
// replug, a hung programmer, LED test, extended panels and the settings file.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/about_unit.h"
#include "app/main_unit.h"
#include "image/intel_hex.h"
#include "tests/gui/gui_fixture.h"

using qmx::app::TMainUnit;

class MainUnitTest : public GuiFixture {
  Q_OBJECT

  void WriteSettings(const QByteArray& text) { WriteFile(SettingsPath(), text); }
  QByteArray ReadSettings() { return ReadFile(SettingsPath()); }

 private slots:
  void init() { SetUpFixture(); }
  void cleanup() { TearDownFixture(); }

  void startsDisconnectedAndWaits() {
    auto w = Window();
    QCOMPARE(w->windowTitle(), QString("QMX71 Programmer 1.00"));
    QCOMPARE(w->minimumWidth(), w->maximumWidth());
    for (const char* name : {"ReadBtn", "WriteBtn", "CompareBtn", "EraseBtn", "BlankChkBtn", "ProgBtn"})
      QVERIFY2(!w->findChild<QToolButton*>(name)->isEnabled(), name);
    QVERIFY(!w->findChild<QPushButton*>("DataFileBtn")->isEnabled());
    for (const char* name : {"mnSaveHex", "mnCheckSum", "mnHexEditor"})
      QVERIFY2(!w->findChild<QAction*>(name)->isEnabled(), name);
    QCOMPARE(w->findChild<QLabel*>("lblVcc")->text(), QString("0"));
    for (int i = 0; i < 3; ++i) QVERIFY(w->StatusText(i).isEmpty());
    QVERIFY(!w->findChild<QPushButton*>("ConnectBtn")->isVisible());
    QVERIFY(!w->findChild<QPushButton*>("btnReset")->isVisible());
    QVERIFY(!w->findChild<QWidget*>("LedTestPnl")->isVisible());
    QVERIFY(!w->findChild<QWidget*>("ExtPanel")->isVisible());
    QTest::qWait(1200);  // a tick without a programmer changes nothing
    QVERIFY(!w->Connected());
    QVERIFY(!w->ControlsEnabled());
    // A hardware reset with nothing connected neither fails nor connects.
    w->mnHWResetClick();
    QTest::qWait(50);
    QVERIFY(!w->Connected());
  }

  void connectsByItselfPerModel_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("families");
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("vppShown");
    QTest::addColumn<int>("setModeFamily");
    const QString mw = "マイクロワイヤデバイス", i2c = "I2Cデバイス", spi = "SPIデバイス";
    QTest::newRow("71A") << "QMX-71A" << QStringList{mw, i2c} << "93C46" << false << 0;
    QTest::newRow("71B") << "QMX-71B" << QStringList{spi, i2c} << "25C020" << false << 2;
    QTest::newRow("71C") << "QMX-71C" << QStringList{mw, i2c, spi} << "93C46" << true << 0;
    QTest::newRow("ISP") << "QMX-ISP v2" << QStringList{mw, i2c, spi} << "93C46" << true << 0;
    QTest::newRow("unknown") << "OTHER-1" << QStringList{} << "" << false << -1;
  }
  void connectsByItselfPerModel() {
    QFETCH(QString, model);
    QFETCH(QStringList, families);
    QFETCH(QString, part);
    QFETCH(bool, vppShown);
    QFETCH(int, setModeFamily);
    auto w = Window();
    QTest::qWait(300);
    StartSim(model.toStdString(), 79);
    QElapsedTimer t;
    t.start();
    QVERIFY(WaitConnected(*w));
    QVERIFY2(t.elapsed() < 1500, "connects within about a second");
    QCOMPARE(w->StatusText(0), model);
    QCOMPARE(Items(w->findChild<QComboBox*>("cbType")), families);
    QCOMPARE(w->findChild<QComboBox*>("cbDevice")->currentText(), part);
    QCOMPARE(!w->findChild<QCheckBox*>("chVppOut")->isHidden(), vppShown);  // inside the hidden panel
    QVERIFY(w->ControlsEnabled());
    QCOMPARE(w->findChild<QPushButton*>("ConnectBtn")->text(), QString("切断"));
    QCOMPARE(w->findChild<QLabel*>("exeCntLbl")->text(), QString("0"));
    QCOMPARE(w->findChild<QLabel*>("lblVcc")->text(), QString("3.3"));
    const Log modes = Of(Synced(*w), qmx::sim::SET_MODE);
    if (setModeFamily < 0) {
      QVERIFY(modes.empty());
    } else {
      // Once for the model's first family, once more when the settings load
      // selects the family again.
      QCOMPARE(modes.size(), std::size_t{2});
      for (const auto& m : modes)
        QCOMPARE(m.args, (std::vector<std::uint8_t>{static_cast<std::uint8_t>(setModeFamily), 0, 50}));
    }
  }

  void supplyIsTruncatedAndKeptWithoutAReading() {
    StartSim("QMX-71C", 80);
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    auto* vcc = w->findChild<QLabel*>("lblVcc");
    QCOMPARE(vcc->text(), QString("3.2"));  // 26100 / 80 = 326 → 32 tenths
    sim_->SetVccReading(52);
    w->ShowSupplyVoltage();
    QCOMPARE(vcc->text(), QString("5.0"));
    sim_->SetVccReading(0);
    w->ShowSupplyVoltage();
    QCOMPARE(vcc->text(), QString("5.0"));
    sim_->DropNextAnswer(qmx::sim::GET_VOLTAGE);
    sim_->SetVccReading(79);
    w->ShowSupplyVoltage();
    QCOMPARE(vcc->text(), QString("5.0"));
  }

  void unplugDisconnectsAndReplugReconnects() {
    StartSim("QMX-71A");
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    auto* type = w->findChild<QComboBox*>("cbType");
    auto* device = w->findChild<QComboBox*>("cbDevice");
    type->setCurrentIndex(1);
    w->cbTypeChange();
    device->setCurrentIndex(4);
    w->cbDeviceChange();
    sim_->Unplug();
    QTRY_VERIFY_WITH_TIMEOUT(!w->Connected(), 2500);
    QVERIFY(w->StatusText(0).isEmpty());
    QCOMPARE(w->findChild<QComboBox*>("cbType")->count(), 0);
    QCOMPARE(w->findChild<QComboBox*>("cbDevice")->count(), 0);
    QVERIFY(!w->ControlsEnabled());
    QCOMPARE(w->findChild<QLabel*>("lblVcc")->text(), QString("0"));
    QVERIFY(w->ProgrammerModelValue() == 0);  // kept for the settings
    QVERIFY(sim_->Replug());
    QVERIFY(WaitConnected(*w));
    QCOMPARE(type->count(), 2);
    // A glitch on the cable keeps the operator's choice.
    QCOMPARE(type->currentIndex(), 1);
    QCOMPARE(device->currentText(), QString("24C08"));
    QCOMPARE(w->Image().Size(), 1024);
  }

  void aPortHeldByAnotherProgramIsReportedOnce() {
    StartSim("QMX-71A");
    qmx::Connection other;  // a second instance of the program
    QVERIFY(other.OpenPort(link_.toStdString()));
    auto w = Window();
    QTest::qWait(2300);  // two poll ticks
    QVERIFY(!w->Connected());
    QCOMPARE(w->LogLines(), QStringList{"ポートは他のプログラムが使用中です。"});
    other.Disconnect();
    QVERIFY(WaitConnected(*w));
  }

  void hungProgrammerEndsTheSequenceAndIsFoundAgainAfterResume() {
    timing_ = qmx::sim::Timing::kReal;
    StartSim("QMX-71C");
    QVERIFY(sim_->InsertPart("24C64"));
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    w->findChild<QComboBox*>("cbType")->setCurrentIndex(1);
    w->cbTypeChange();
    w->findChild<QComboBox*>("cbDevice")->setCurrentIndex(7);  // 8192 one-byte pages: far more than the pty holds
    w->cbDeviceChange();
    w->findChild<QCheckBox*>("chVppOut")->setChecked(true);
    sim_->ClearLog();
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> hungAt{-1};
    std::thread hang([&] {
      if (!sim_->WaitForLog(200, std::chrono::seconds(10))) return;  // well into the erase pass
      sim_->Hang();
      hungAt = clock.elapsed();
    });
    w->ProgBtnClick();
    const bool ended = WaitOperation(*w, 15000);
    const qint64 endedAt = clock.elapsed();
    hang.join();
    QVERIFY(ended && hungAt >= 0);
    QVERIFY2(endedAt - hungAt < 6000, qPrintable(QString::number(endedAt - hungAt)));  // a 3 s write time-out
    QCOMPARE(w->LogLines().back(), QString("エラーが発生しました。"));
    QCOMPARE(CounterText(*w), QString("1/0/1"));
    QVERIFY(!w->Connected());
    QVERIFY(!w->ControlsEnabled());
    QCOMPARE(w->findChild<QComboBox*>("cbType")->count(), 0);
    QVERIFY(w->StatusText(0).isEmpty());

    // Plugged but hung: the poll's tries hold the window thread only briefly
    // and not on every tick, connect to nothing, and leave the failure's
    // counts on show.
    qint64 longest = 0, stalled = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer beat;
    connect(&beat, &QTimer::timeout, [&] {
      const qint64 g = gap.restart();
      longest = std::max(longest, g);
      if (g > 100) stalled += g;
    });
    beat.start(10);
    QTest::qWait(3500);
    beat.stop();
    QVERIFY2(longest < 800 && stalled < 1000, qPrintable(QString("%1 %2").arg(longest).arg(stalled)));
    QVERIFY(!w->Connected());
    QCOMPARE(CounterText(*w), QString("1/0/1"));

    // Resumed, it first works off what was queued, then answers again.
    sim_->Resume();
    QVERIFY(WaitConnected(*w, 8000));
    QVERIFY(w->ControlsEnabled());
    QCOMPARE(w->StatusText(0), QString("QMX-71C"));
    QCOMPARE(CounterText(*w), QString("0/0/0"));  // a new connection counts anew
  }

  void unrecognisedModelListsTheEarlierFamilyAgain() {
    StartSim("QMX-71B");
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    QCOMPARE(w->DeviceFamilyValue(), 2);
    sim_->Unplug();
    QTRY_VERIFY_WITH_TIMEOUT(!w->Connected(), 2500);
    sim_->SetModel("NONAME");
    QVERIFY(sim_->Replug());
    QVERIFY(WaitConnected(*w));
    QCOMPARE(w->findChild<QComboBox*>("cbType")->count(), 0);
    QCOMPARE(w->findChild<QComboBox*>("cbDevice")->currentText(), QString("25C020"));
    QVERIFY(w->ControlsEnabled());
  }

  void familyAndPartChoicesReachTheProgrammerAndTheImage() {
    StartSim("QMX-71C");
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    auto* type = w->findChild<QComboBox*>("cbType");
    auto* device = w->findChild<QComboBox*>("cbDevice");
    sim_->ClearLog();
    type->setCurrentIndex(1);
    w->cbTypeChange();
    QCOMPARE(device->count(), 8);
    QCOMPARE(device->currentText(), QString("24C02"));
    QCOMPARE(w->Image().Size(), 256);
    const Log modes = Of(Synced(*w), qmx::sim::SET_MODE);
    QCOMPARE(modes.size(), std::size_t{1});
    QCOMPARE(modes[0].args, (std::vector<std::uint8_t>{1, 0, 50}));

    // A part change erases the image and reloads the named HEX file.
    const QString hex = dir_->filePath("data.hex");
    {
      QFile f(hex);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(":0400000001020304F2\r\n:00000001FF\r\n");
    }
    w->findChild<QLineEdit*>("edDataFile")->setText(hex);
    w->Image().Data()[100] = 0x00;
    device->setCurrentIndex(7);
    w->cbDeviceChange();
    QCOMPARE(w->Image().Size(), 8192);
    QCOMPARE(w->Image().Data()[100], std::uint8_t{0xFF});
    QCOMPARE(w->Image().Data()[2], std::uint8_t{0x03});
    QCOMPARE(w->StatusText(2), QString::asprintf("checksum=%04X", w->Image().ImageSum()));
    // The datasheet page is offered beside the field, which keeps the catalogue's.
    auto* hint = w->findChild<QLabel*>("lbPageHint");
    QCOMPARE(hint->text(), QString("推奨 32"));
    QCOMPARE(w->findChild<QLineEdit*>("edPageSize")->text(), QString("1"));
    QVERIFY(w->ReadAhead());  // reads run ahead unless the INI says not
    QFile::remove(hex);
    w->cbDeviceChange();
    QVERIFY(w->StatusText(2).isEmpty());
    QCOMPARE(w->Image().Data()[2], std::uint8_t{0xFF});

    // Series90 parts set the variant.
    type->setCurrentIndex(0);
    w->cbTypeChange();
    device->setCurrentIndex(11);
    w->cbDeviceChange();
    QCOMPARE(w->MicrowireVariantValue(), 1);
    QCOMPARE(w->findChild<QLineEdit*>("edPageSize")->text(), QString("1"));
    QVERIFY(hint->text().isEmpty());
  }

  void extendedPanelsStackAndFieldsNormalise() {
    StartSim("QMX-71C");
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    const QSize size = w->size();
    auto* ext = w->findChild<QWidget*>("ExtPanel");
    auto* mcw = w->findChild<QWidget*>("McwExtPanel");
    auto* type = w->findChild<QComboBox*>("cbType");
    type->setCurrentIndex(1);
    w->cbTypeChange();
    w->findChild<QAction*>("mnExtPanel")->trigger();
    QVERIFY(ext->isVisible());
    QVERIFY(!mcw->isVisible());
    type->setCurrentIndex(0);
    w->cbTypeChange();
    QVERIFY(mcw->isVisible());
    QCOMPARE(w->size(), size);
    QVERIFY(ext->geometry().top() >= w->findChild<QWidget*>("Panel2")->geometry().bottom());
    w->findChild<QAction*>("mnExtPanel")->trigger();
    QVERIFY(!ext->isVisible() && !mcw->isVisible());

    auto* page = w->findChild<QLineEdit*>("edPageSize");
    page->setText("");
    w->edPageSizeExit();
    QCOMPARE(page->text(), QString("1"));
    page->setText("0");
    w->edPageSizeExit();
    QCOMPARE(page->text(), QString("0"));

    auto* mode = w->findChild<QComboBox*>("cbMcwDataMode");
    auto* gp1 = w->findChild<QComboBox*>("cbMcwGP1");
    mode->setCurrentIndex(0);
    w->cbMcwDataModeChange();
    QCOMPARE(gp1->currentText(), QString("L"));
    mode->setCurrentIndex(1);
    w->cbMcwDataModeChange();
    QCOMPARE(gp1->currentText(), QString("H"));
  }

  void factoryModeLedTestSteps() {
    // With a key of our own beside it: reads block by block.
    WriteSettings("[SYSTEM]\r\nFactoryMode=1\r\n[ExtSetting]\r\nReadAhead=0\r\n");
    StartSim("QMX-71A");
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    QVERIFY(!w->ReadAhead());
    QVERIFY(w->findChild<QWidget*>("LedTestPnl")->isVisible());
    auto* label = w->findChild<QLabel*>("LedLabel");
    auto* button = w->findChild<QPushButton*>("LedTestBtn");
    Synced(*w);
    sim_->ClearLog();
    QStringList shown;
    for (int i = 0; i < 5; ++i) {
      button->click();
      shown << label->text();
    }
    QCOMPARE(shown, (QStringList{"BUSY", "ERROR", "OFF", "ON", "BUSY"}));
    std::vector<int> codes;
    for (const auto& c : Of(Synced(*w), qmx::sim::DEV_CTRL)) codes.push_back(c.args.at(0));
    QCOMPARE(codes, (std::vector<int>{14, 15, 12, 13, 14}));
    // The panel stays after a disconnect.
    w->DisconnectDevice();
    QVERIFY(w->findChild<QWidget*>("LedTestPnl")->isVisible());
  }

  void firstRunWritesOnlyTheModelSectionAndTheSwitch() {
    StartSim("QMX-71C");
    {
      auto w = Window();
      QVERIFY(WaitConnected(*w));
      QVERIFY(!w->findChild<QCheckBox*>("cbExtSave")->isChecked());
      QVERIFY(!w->findChild<QWidget*>("ExtPanel")->isVisible());
      w->close();
    }
    const QString text = QString::fromUtf8(ReadSettings());
    QVERIFY2(text.contains("[QMX-ISP]"), qPrintable(text));
    QVERIFY(text.contains("DeviceType=0"));
    QVERIFY(text.contains("DeviceNo=1"));
    QVERIFY(text.contains("ExtDevType=0"));
    QVERIFY(text.contains("[ExtSetting]"));
    QVERIFY(text.contains("SaveExtSetting=0"));
    QVERIFY(!text.contains("PageSize"));
    QVERIFY(!text.contains("FreqSetting"));
  }

  void neverConnectedWritesNothing() {
    { auto w = Window(); }
    QVERIFY(!QFile::exists(SettingsPath()));
  }

  void extendedSettingsRoundTripAndForeignLinesSurvive() {
    WriteSettings("; bench 3\r\n[Other]\r\nKeep=this\r\n\r\n[ExtSetting]\r\nUnknown=1\r\n");
    StartSim("QMX-71C");
    {
      auto w = Window();
      QVERIFY(WaitConnected(*w));
      auto* type = w->findChild<QComboBox*>("cbType");
      type->setCurrentIndex(1);
      w->cbTypeChange();
      w->findChild<QComboBox*>("cbDevice")->setCurrentIndex(7);
      w->cbDeviceChange();
      w->findChild<QCheckBox*>("cbExtSave")->setChecked(true);
      w->findChild<QLineEdit*>("edPageSize")->setText("32");
      w->findChild<QComboBox*>("cbClockFreq")->setCurrentIndex(0);
      w->findChild<QComboBox*>("cbProgramMode")->setCurrentIndex(0);
      w->findChild<QComboBox*>("cbMaxWriteTime")->setCurrentIndex(2);
      w->findChild<QComboBox*>("cbMcwDataMode")->setCurrentIndex(0);
      w->findChild<QComboBox*>("cbMcwGP0")->setCurrentIndex(0);
      w->findChild<QComboBox*>("cbMcwGP1")->setCurrentIndex(1);  // kept as stored, not re-derived
      w->findChild<QComboBox*>("cbReadSize")->setCurrentIndex(0);
      w->findChild<QCheckBox*>("chVppOut")->setChecked(true);
      w->close();
    }
    const QByteArray saved = ReadSettings();
    QVERIFY2(saved.startsWith("; bench 3\r\n[Other]\r\nKeep=this\r\n"), saved.constData());
    QVERIFY(saved.contains("Unknown=1"));

    // A "QMX-71C" and a "QMX-ISP" share the section.
    sim_->Stop();
    StartSim("QMX-ISP");
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    QCOMPARE(w->findChild<QComboBox*>("cbDevice")->currentText(), QString("24C64"));
    QVERIFY(w->findChild<QWidget*>("ExtPanel")->isVisible());
    QVERIFY(!w->findChild<QWidget*>("McwExtPanel")->isVisible());
    QVERIFY(w->findChild<QAction*>("mnExtPanel")->isChecked());
    QCOMPARE(w->findChild<QLineEdit*>("edPageSize")->text(), QString("32"));
    QCOMPARE(w->findChild<QComboBox*>("cbClockFreq")->currentIndex(), 0);
    QCOMPARE(w->findChild<QComboBox*>("cbProgramMode")->currentIndex(), 0);
    QCOMPARE(w->findChild<QComboBox*>("cbMaxWriteTime")->currentIndex(), 2);
    QCOMPARE(w->findChild<QComboBox*>("cbMcwDataMode")->currentIndex(), 0);
    QCOMPARE(w->findChild<QComboBox*>("cbMcwGP0")->currentIndex(), 0);
    QCOMPARE(w->findChild<QComboBox*>("cbMcwGP1")->currentIndex(), 1);
    QCOMPARE(w->findChild<QComboBox*>("cbReadSize")->currentIndex(), 0);
    QVERIFY(w->findChild<QCheckBox*>("chVppOut")->isChecked());
  }

  void storedPositionsOutsideTheListsFallBack() {
    WriteSettings(
        "[QMX-71A]\nDeviceType=9\nDeviceNo=0x3\n"
        "[ExtSetting]\nSaveExtSetting=1\nFreqSetting=7\nWriteTime=-2\nEndianType=0X1\nPageSize=zz\n");
    StartSim("QMX-71A");
    auto w = Window();
    QVERIFY(WaitConnected(*w));
    QCOMPARE(w->findChild<QComboBox*>("cbType")->currentIndex(), 0);     // no family 9: the first
    QCOMPARE(w->findChild<QComboBox*>("cbDevice")->currentText(), QString("93C57"));  // 0x3
    QCOMPARE(w->findChild<QComboBox*>("cbClockFreq")->currentIndex(), 1);
    QCOMPARE(w->findChild<QComboBox*>("cbMaxWriteTime")->currentIndex(), 4);
    QCOMPARE(w->findChild<QComboBox*>("cbMcwDataMode")->currentIndex(), 1);
    QCOMPARE(w->findChild<QLineEdit*>("edPageSize")->text(), QString("1"));  // not a number: kept

    // A stored part past the rebuilt list: the position held before the load
    // (the first family's default, 1) in the stored family's list.
    w->close();
    w.reset();
    WriteSettings("[QMX-71A]\nDeviceType=1\nDeviceNo=40\n");
    auto again = Window();
    QVERIFY(WaitConnected(*again));
    QCOMPARE(again->findChild<QComboBox*>("cbDevice")->currentText(), QString("24C01"));
  }

  void versionDialogShowsFreshTextsEachTime() {
    auto w = Window();
    QString seen;
    auto readAndClose = [&] {
      QTimer::singleShot(50, [&] {
        seen = w->AboutDialog()->findChild<QLabel*>("pnlFrmVersion")->text();
        seen += "|" + w->AboutDialog()->findChild<QLabel*>("pnlAppVersion")->text();
        w->AboutDialog()->findChild<QPushButton*>("OkBtn")->click();
      });
      w->mnVersionClick();
    };
    readAndClose();
    QCOMPARE(seen, QString("---|1.00"));
    StartSim("QMX-71A");
    QVERIFY(WaitConnected(*w));
    readAndClose();
    QCOMPARE(seen, QString("1.00|1.00"));
  }
};

QTEST_MAIN(MainUnitTest)
#include "main_unit_test.moc"
