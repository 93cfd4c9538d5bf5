// The operator's side of the window: a connected window against the
// simulated programmer, and what its tests share.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "app/main_unit.h"
#include "image/intel_hex.h"
#include "tests/gui/gui_fixture.h"

using qmx::app::TMainUnit;

inline std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
  std::vector<std::uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
  return b;
}

// True when `wanted` appear in `lines` in this order (other lines between).
inline bool InOrder(const QStringList& lines, const QStringList& wanted) {
  int at = 0;
  for (const QString& line : lines)
    if (at < wanted.size() && line == wanted[at]) ++at;
  return at == wanted.size();
}

// Answers the next modal message box with `button` once it shows.
inline void AnswerNextBox(QMessageBox::StandardButton button, int* asked = nullptr) {
  QTimer* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [poll, button, asked] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (asked) ++*asked;
    poll->stop();
    poll->deleteLater();
    box->button(button)->click();
  });
  poll->start(20);
}

// No Q_OBJECT: the tests derived from it carry their own.
class OperatorFixture : public GuiFixture {
 protected:
  std::unique_ptr<TMainUnit> w_;

  // A connected window with `part` in the socket and the part at the list
  // positions selected (normally the same part).
  void Connect(const std::string& model, const char* part, int typePosition, int devicePosition,
               const char* selected = nullptr) {
    StartSim(model);
    QVERIFY(sim_->InsertPart(part));
    w_ = Window();
    QVERIFY(WaitConnected(*w_));
    auto* type = w_->findChild<QComboBox*>("cbType");
    type->setCurrentIndex(typePosition);
    w_->cbTypeChange();
    w_->findChild<QComboBox*>("cbDevice")->setCurrentIndex(devicePosition);
    w_->cbDeviceChange();
    QCOMPARE(w_->findChild<QComboBox*>("cbDevice")->currentText(), QString(selected ? selected : part));
    // An ISP-type programmer powers the part only with this option.
    w_->findChild<QCheckBox*>("chVppOut")->setChecked(true);
  }

  bool WaitDone(int ms = 20000) { return WaitOperation(*w_, ms); }
  QString Counters() const { return CounterText(*w_); }

  QString HexFile(const char* name, const std::vector<std::uint8_t>& bytes) {
    const QString path = dir_->filePath(name);
    WriteFile(path, QByteArray::fromStdString(qmx::FormatIntelHex(bytes.data(), static_cast<int>(bytes.size()))));
    return path;
  }

  void TearDownOperator() {
    w_.reset();
    TearDownFixture();
  }
};
