// What the window tests share: a simulated programmer on a pseudo-terminal
// found through QMX71_PORT, a scratch folder for the settings file, and
// waits that keep the window's event loop running.
#pragma once

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/main_unit.h"
#include "sim/simulator.h"

using Log = std::vector<qmx::sim::LoggedCommand>;

// No Q_OBJECT: the tests derived from it carry their own.
class GuiFixture : public QObject {
 protected:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<qmx::sim::PtySimulator> sim_;
  QString link_;
  // The simulator's pace for the next StartSim: instant, or a programmer's
  // own (answer latency, bus time at the set clock, write cycles).
  qmx::sim::Timing timing_ = qmx::sim::Timing::kInstant;

  // A `real` column in a test's table runs its row against either pace.
  static void AddTimingColumn() { QTest::addColumn<bool>("real"); }
  static void TimingRows() {
    AddTimingColumn();
    QTest::newRow("instant") << false;
    QTest::newRow("paced") << true;
  }
  void FetchTiming() {
    QFETCH(bool, real);
    timing_ = real ? qmx::sim::Timing::kReal : qmx::sim::Timing::kInstant;
  }
  bool RealTiming() const { return timing_ == qmx::sim::Timing::kReal; }

  void SetUpFixture() {
    timing_ = qmx::sim::Timing::kInstant;
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    link_ = dir_->filePath("port");
    ::setenv("QMX71_PORT", link_.toLocal8Bit().constData(), 1);
    ::setenv("QMX71_SYSFS_ROOT", dir_->filePath("nosys").toLocal8Bit().constData(), 1);
  }
  void TearDownFixture() {
    if (sim_) sim_->Stop();
    sim_.reset();
    dir_.reset();
  }

  QString SettingsPath() const { return dir_->filePath("Qmx71aApp.ini"); }

  void StartSim(const std::string& model, std::uint8_t vcc = 79) {
    if (sim_) sim_->Stop();
    qmx::sim::Options options;
    options.timing = timing_;
    sim_ = std::make_unique<qmx::sim::PtySimulator>(options);
    QVERIFY(sim_->Start());
    sim_->SetModel(model);
    sim_->SetVccReading(vcc);
    QVERIFY(sim_->SetLinkPath(link_.toStdString()));
  }

  std::unique_ptr<qmx::app::TMainUnit> Window() {
    qmx::app::AppOptions options;
    options.settingsPath = SettingsPath().toStdString();
    auto w = std::make_unique<qmx::app::TMainUnit>(options);
    // An instant simulator answers whenever its thread gets the processor:
    // whole-part passes are hundreds of round trips, and on a loaded machine
    // one late answer should not fail a test about what the window shows.
    // Against a paced programmer the window stays the real one: those runs
    // are there to show that the waits cover the programmer's own work.
    if (!RealTiming()) w->Link().SetAnswerWindowMs(1000);
    w->show();
    return w;
  }

  static bool WaitConnected(qmx::app::TMainUnit& w, int ms = 2500) {
    QElapsedTimer t;
    t.start();
    while (!w.Connected() && t.elapsed() < ms) QTest::qWait(20);
    return w.Connected();
  }

  // Until the window's operation has ended and its last queued log lines are in.
  static bool WaitOperation(qmx::app::TMainUnit& w, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (w.OperationRunning() && t.elapsed() < ms) QTest::qWait(10);
    QTest::qWait(20);
    return !w.OperationRunning();
  }

  // The Program counters as "executed/succeeded/failed".
  static QString CounterText(const qmx::app::TMainUnit& w) {
    return w.findChild<QLabel*>("exeCntLbl")->text() + "/" + w.findChild<QLabel*>("OkCntLbl")->text() + "/" +
           w.findChild<QLabel*>("ErrCntLbl")->text();
  }

  static QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
  }

  // Everything the window sent so far: a version query is answered only once
  // all earlier commands were carried out; the queries are left out.
  Log Synced(qmx::app::TMainUnit& w) {
    for (int i = 0; i < 20; ++i)
      if (w.Link().Query(qmx::GET_VERSION, qmx::RESP_VERSION)) break;
    Log log = sim_->Log();
    while (!log.empty() && log.back().code == qmx::sim::GET_VERSION) log.pop_back();
    return log;
  }

  static Log Of(const Log& log, std::uint8_t code) {
    Log out;
    for (const auto& c : log)
      if (c.code == code) out.push_back(c);
    return out;
  }

  void WriteFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  static QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
  }
};
