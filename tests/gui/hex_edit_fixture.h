// What the hex editor's tests share: an editor shown over an image of their
// own, the grid's cells, keys and the dialogs the editor opens.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>
#include <set>
#include <tuple>
#include <vector>

#include "app/fonts.h"
#include "app/hex_edit.h"
#include "app/hex_edit_grid.h"
#include "tests/gui/operator_fixture.h"

using qmx::app::HexGridModel;
using qmx::app::THexEdit;

// No Q_OBJECT: the tests derived from it carry their own.
class HexEditFixture : public OperatorFixture {
 protected:
  qmx::MemoryImage image_;
  std::unique_ptr<THexEdit> edit_;

  QTableView* Grid() const { return edit_->findChild<QTableView*>("DGrid"); }
  QModelIndex At(int row, int column) const { return Grid()->model()->index(row, column); }
  QString Cell(int row, int column) const { return At(row, column).data().toString(); }
  int Byte(int offset) const { return image_.Data()[offset]; }

  // A shown, active editor over the image with the given bytes at its start.
  void Show(int size, int view, std::vector<int> bytes = {}) {
    image_.Clear();
    for (std::size_t i = 0; i < bytes.size(); ++i) image_.Data()[i] = std::uint8_t(bytes[i]);
    edit_ = std::make_unique<THexEdit>();
    edit_->Open(&image_, size, view);
    edit_->show();
    QVERIFY(QTest::qWaitForWindowActive(edit_.get()));
  }
  void Type(int row, int column, const QString& keys) {
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->visualRect(At(row, column)).center());
    QTest::keyClicks(Grid(), keys);
  }
  QString Status() const { return edit_->findChild<QStatusBar*>("StatusBar")->currentMessage(); }
  int Element(const QModelIndex& index) const { return index.row() * 16 + index.column() - 1; }
  // The selected elements, in order.
  std::vector<int> Selected() const {
    std::set<int> elements;
    for (const QModelIndex& index : Grid()->selectionModel()->selectedIndexes()) elements.insert(Element(index));
    return {elements.begin(), elements.end()};
  }
  static std::vector<int> Span(int first, int last) {
    std::vector<int> elements;
    for (int e = first; e <= last; ++e) elements.push_back(e);
    return elements;
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
  }
  // Answers the next input dialog with `text` once it shows; gives up after five seconds.
  void AnswerNextInput(const QString& text) {
    auto* poll = new QTimer(this);
    auto tries = std::make_shared<int>(250);
    connect(poll, &QTimer::timeout, [poll, text, tries] {
      auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      if (!dialog && --*tries > 0) return;
      poll->stop();
      poll->deleteLater();
      if (!dialog) return;
      dialog->setTextValue(text);
      dialog->accept();
    });
    poll->start(20);
  }
  // The offscreen platform leaves no window active once a dialog has closed; a desktop gives the editor back.
  void Reactivate() {
    edit_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(edit_.get()));
  }
  static std::vector<int> Filled(int size, std::vector<std::pair<int, QByteArray>> at) {
    std::vector<int> bytes(std::size_t(size), 0xCC);
    for (const auto& [offset, b] : at)
      for (int i = 0; i < b.size(); ++i) bytes[std::size_t(offset + i)] = std::uint8_t(b[i]);
    return bytes;
  }

  // Commits by going to another cell, as a click does.
  void MoveOn() {
    const QModelIndex away = At(0, Grid()->currentIndex() == At(0, 1) ? 2 : 1);
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->visualRect(away).center());
  }

  // No editor outlives its test: some open images that are gone afterwards.
  void TearDownEditor() {
    edit_.reset();
    TearDownOperator();
  }
};
