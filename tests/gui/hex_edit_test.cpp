// The hex editor as the operator sees it: the window, the grid per view and part size, the cells and tooltips,
// typing into the image, closing from the menu; search, go to, fill, undo and redo; and the cells a failed Compare
// against the simulated programmer marks.
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

class HexEditTest : public OperatorFixture {
  Q_OBJECT

 private:
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

 private slots:
  // No editor outlives its test: some open images that are gone afterwards.
  void cleanup() {
    edit_.reset();
    TearDownOperator();
  }

  void WindowPanelMenuAndStatusBar() {
    Show(128, 2);
    QCOMPARE(edit_->windowTitle(), QStringLiteral("Hex Editor"));
    QCOMPARE(edit_->font().families(), qmx::app::UiFont().families());
    QCOMPARE(edit_->font().pointSize(), 8);
    QCOMPARE(edit_->minimumHeight(), 256);
    auto* menu = edit_->findChild<QMenuBar*>("Menu");
    QVERIFY(menu && edit_->layout()->menuBar() == menu);
    QCOMPARE(edit_->height() - menu->height(), 425);
    auto* file = menu->findChild<QMenu*>("mnFile");
    QCOMPARE(file->title(), QStringLiteral("ファイル(&F)"));
    auto* exit = file->findChild<QAction*>("mnExit");
    QVERIFY(exit && file->actions().contains(exit));
    QCOMPARE(exit->text(), QStringLiteral("HEXエディタの終了(&X)"));
    QCOMPARE(exit->shortcut(), QKeySequence("Ctrl+X"));

    auto* panel = edit_->findChild<QWidget*>("Panel1");
    QCOMPARE(panel->height(), 29);
    auto* label = panel->findChild<QLabel*>("Label1");
    QCOMPARE(label->text(), QStringLiteral("データーモード"));
    QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
    auto* box = panel->findChild<QComboBox*>("cbDataMode");
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    QCOMPARE(items, QStringList({"バイトモード", "リトルエンディアン", "ビッグエンディアン"}));
    QCOMPARE(THexEdit().findChild<QComboBox*>("cbDataMode")->currentIndex(), 2);
    QVERIFY(panel->rect().contains(label->geometry()) && panel->rect().contains(box->geometry()));
    QVERIFY(!label->geometry().intersects(box->geometry()));
    auto* status = edit_->findChild<QStatusBar*>("StatusBar");
    QVERIFY(status && status->findChildren<QLabel*>().isEmpty());
  }

  void GridLayoutPerView_data() {
    QTest::addColumn<int>("view");
    QTest::addColumn<int>("cellWidth");
    QTest::addColumn<int>("windowWidth");
    QTest::newRow("bytes") << 0 << 24 << 634;
    QTest::newRow("little-endian words") << 1 << 36 << 694;
    QTest::newRow("big-endian words") << 2 << 36 << 694;
  }
  void GridLayoutPerView() {
    QFETCH(int, view);
    QFETCH(int, cellWidth);
    QFETCH(int, windowWidth);
    Show(8192, view);  // enough rows for the vertical scroll bar
    QCOMPARE(edit_->DataMode(), view);
    QCOMPARE(edit_->findChild<QComboBox*>("cbDataMode")->currentIndex(), view);
    QCOMPARE(edit_->minimumWidth(), windowWidth);
    QCOMPARE(edit_->maximumWidth(), windowWidth);
    QCOMPARE(edit_->width(), windowWidth);

    QTableView* grid = Grid();
    QVERIFY(grid->showGrid());
    QCOMPARE(grid->font().families(), qmx::app::LogFont().families());
    QCOMPARE(grid->font().pixelSize(), 12);
    QCOMPARE(grid->rowHeight(0), 18);
    QStringList headers{"Address"};
    for (int i = 0; i < 16; ++i) headers << QStringLiteral("+%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
    if (view == 0) headers << "Dump Data";
    QHeaderView* header = grid->horizontalHeader();
    QCOMPARE(grid->model()->columnCount(), headers.size());
    int total = 0;
    for (int c = 0; c < headers.size(); ++c) {
      const QString text = grid->model()->headerData(c, Qt::Horizontal).toString();
      QCOMPARE(text, headers[c]);
      const int width = c == 0 ? 64 : c == 17 ? 128 : cellWidth;
      QCOMPARE(grid->columnWidth(c), width);
      QVERIFY2(header->fontMetrics().horizontalAdvance(text) + 4 <= width, qPrintable(text));
      total += width;
    }
    // All columns in sight beside the scroll bar: the operator never scrolls sideways.
    QVERIFY(grid->verticalScrollBar()->isVisible());
    QVERIFY(total <= grid->viewport()->width());
    QVERIFY(!grid->horizontalScrollBar()->isVisible());
  }

  void RowsAndAddresses_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("view");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("last");
    QTest::newRow("16 B words") << 16 << 1 << 1 << "0000";
    QTest::newRow("nothing") << 0 << 0 << 1 << "0000";
    QTest::newRow("128 B bytes") << 128 << 0 << 8 << "0070";
    QTest::newRow("128 B words") << 128 << 1 << 4 << "0030";
    QTest::newRow("8 KiB bytes") << 8192 << 0 << 512 << "1FF0";
    QTest::newRow("8 KiB words") << 8192 << 2 << 256 << "0FF0";
    QTest::newRow("128 KiB bytes") << 131072 << 0 << 8192 << "1FFF0";
    QTest::newRow("128 KiB words") << 131072 << 1 << 4096 << "FFF0";
  }
  void RowsAndAddresses() {
    QFETCH(int, size);
    QFETCH(int, view);
    QFETCH(int, rows);
    QFETCH(QString, last);
    Show(size, view);
    QCOMPARE(Grid()->model()->rowCount(), rows);
    QCOMPARE(Cell(0, 0), QString(last.size(), QLatin1Char('0')));  // every row as wide as the last
    QCOMPARE(Cell(rows - 1, 0), last);
  }

  void CellTextsAndTooltips() {
    Show(16, 0, {0x41, 0x00, 0x9F, 0x20, 0x7E, 0x7F, 0x80, 0x1F, 0x61, 0x34, 0x12});
    QCOMPARE(Cell(0, 1) + Cell(0, 2) + Cell(0, 3), QStringLiteral("41009F"));
    QCOMPARE(Cell(0, 17), QStringLiteral("A.. ~...-a4......"));
    QCOMPARE(At(0, 3).data(Qt::ToolTipRole).toString(), QStringLiteral("9F"));
    QVERIFY(!At(0, 0).data(Qt::ToolTipRole).isValid() && !At(0, 17).data(Qt::ToolTipRole).isValid());

    // Only the part is shown: the image's bytes past it stay out of cells, text and tooltips.
    edit_->Open(&image_, 8, 0);
    QCOMPARE(Cell(0, 8), QStringLiteral("1F"));
    QCOMPARE(Cell(0, 9), QString());
    QCOMPARE(Cell(0, 17), QStringLiteral("A.. ~...-        "));
    QVERIFY(!At(0, 9).data(Qt::ToolTipRole).isValid());

    image_.Data()[0] = 0x34;
    image_.Data()[1] = 0x12;
    for (const auto& [view, text] : {std::pair{1, "1234"}, std::pair{2, "3412"}}) {
      edit_->Open(&image_, 16, view);
      QCOMPARE(Cell(0, 1), QString(text));
      QCOMPARE(At(0, 1).data(Qt::ToolTipRole).toString(), QString(text));
      QCOMPARE(Cell(0, 8), QStringLiteral("FFFF"));
      for (int c = 9; c <= 16; ++c) QVERIFY(Cell(0, c).isEmpty() && !At(0, c).data(Qt::ToolTipRole).isValid());
    }
  }

  void DataCellsAreShadedWithTextTopLeft() {
    Show(32, 0, {0x88});
    Type(1, 5, "");  // the cursor away from the cell looked at
    const QImage shot = Grid()->viewport()->grab().toImage();
    const qreal ratio = shot.devicePixelRatio();
    auto pixel = [&](QPoint p) { return shot.pixelColor((QPointF(p) * ratio).toPoint()); };
    // The darkest ink in a cell and the first column that holds ink of that darkness.
    auto ink = [&](int column) {
      const QRect cell = Grid()->visualRect(At(0, column));
      int darkest = 255, left = cell.right();
      for (int x = cell.left(); x < cell.right(); ++x) {
        for (int y = cell.top(); y < cell.bottom(); ++y) darkest = std::min(darkest, pixel({x, y}).lightness());
      }
      for (int x = cell.right() - 1; x >= cell.left(); --x) {
        for (int y = cell.top(); y < cell.bottom(); ++y) left = pixel({x, y}).lightness() < darkest + 60 ? x : left;
      }
      return std::pair{darkest, left - cell.left()};
    };
    const QRect cell = Grid()->visualRect(At(0, 1));
    QVERIFY(pixel(cell.bottomRight()) != pixel(Grid()->visualRect(At(0, 17)).bottomRight()));
    const auto [darkest, left] = ink(1);
    QVERIFY2(darkest < 100 && left >= 2 && left <= 4, qPrintable(QString::number(left)));
    QVERIFY(ink(0).first < 100);  // the addresses cannot be entered, but must not look greyed out
  }

  void Typing_data() {
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("bytes") << 0 << "01A2" << QByteArray("\x01\xA2") << "01A2";
    QTest::newRow("little-endian") << 1 << "1234" << QByteArray("\x34\x12") << "1234";
    QTest::newRow("big-endian") << 2 << "1234" << QByteArray("\x12\x34") << "1234";
    QTest::newRow("lower case, other keys dropped") << 0 << "ag -z.b" << QByteArray("\xAB\xFF") << "ABFF";
  }
  void Typing() {
    QFETCH(int, view);
    QFETCH(QString, keys);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    Show(128, view);
    Type(0, 1, keys);
    MoveOn();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(image_.Data()), bytes.size()), bytes);
    QCOMPARE(Cell(0, 1) + (view == 0 ? Cell(0, 2) : QString()), shown);
  }

  void TypingShowsAsItGoes() {
    Show(128, 0);
    Type(1, 5, ".");  // punctuation starts no search by first letter
    QCOMPARE(Grid()->currentIndex(), At(1, 5));
    QCOMPARE(Cell(1, 5), QStringLiteral("FF"));
    Type(0, 3, "4");  // entering a cell starts fresh
    QCOMPARE(Cell(0, 3), QStringLiteral("4"));
    QCOMPARE(Byte(2), 0xFF);
    QTest::keyClicks(Grid(), "1");
    MoveOn();
    QCOMPARE(Cell(0, 17).left(3), QStringLiteral("..A"));
  }

  void FullCellsMoveOnAndTheLastDrops() {
    Show(32, 0);
    Type(0, 16, "ABCD");  // across the end of the row
    QCOMPARE(Grid()->currentIndex(), At(1, 1));
    MoveOn();
    QCOMPARE(Byte(15), 0xAB);
    QCOMPARE(Byte(16), 0xCD);
    Type(1, 16, "123");
    QCOMPARE(Grid()->currentIndex(), At(1, 16));
    MoveOn();
    QCOMPARE(Byte(31), 0x12);
    QCOMPARE(Byte(0), 0xFF);

    // A word part shorter than a row: the last word is at +07 and nothing is written past it.
    Show(16, 1);
    Type(0, 8, "123456");
    QCOMPARE(Grid()->currentIndex(), At(0, 8));
    MoveOn();
    QCOMPARE(Byte(14), 0x34);
    QCOMPARE(Byte(15), 0x12);
    QCOMPARE(Byte(16), 0xFF);
  }

  void BackspaceAndCellsThatTakeNoKeys() {
    Show(8, 0, {0x5A, 0x5A, 0x5A});
    // An emptied cell leaves its byte; Backspace edits what was typed.
    for (const auto& [column, keys] : {std::pair{1, "\b"}, std::pair{2, "7\b3"}, std::pair{3, "12\b"}}) {
      Type(0, column, "");
      for (const QChar key : QString(keys)) {
        if (key == QLatin1Char('\b')) QTest::keyClick(Grid(), Qt::Key_Backspace);
        else QTest::keyClicks(Grid(), key);
      }
      if (column == 1) QCOMPARE(Cell(0, 1), QString());
      MoveOn();
    }
    QCOMPARE(Byte(0), 0x5A);
    QCOMPARE(Byte(1), 0x03);
    QCOMPARE(Byte(2), 0x01);

    const std::vector<std::uint8_t> before(image_.Data(), image_.Data() + 64);
    // Past the part, the text column and the address column take neither the cursor nor a selection: typing
    // there would go nowhere.
    const QModelIndex current = Grid()->currentIndex();
    for (int column : {9, 17, 0}) {
      Type(0, column, "");
      QCOMPARE(Grid()->currentIndex(), current);
      QVERIFY(!Grid()->selectionModel()->isSelected(At(0, column)));
    }
    QTest::keyClick(Grid(), Qt::Key_End);
    QCOMPARE(Grid()->currentIndex(), At(0, 8));
    QTest::keyClick(Grid(), Qt::Key_Right);
    QCOMPARE(Grid()->currentIndex(), At(0, 8));
    QVERIFY(std::equal(before.begin(), before.end(), image_.Data()));
    QCOMPARE(Cell(0, 9), QString());
    QTest::keyClick(Grid(), Qt::Key_Home);
    QTest::keyClick(Grid(), Qt::Key_Left);
    QCOMPARE(Grid()->currentIndex(), At(0, 1));
  }

  void LeavingTheGridOrChangingTheViewCommits() {
    Show(128, 2);
    Type(0, 1, "4");
    edit_->findChild<QComboBox*>("cbDataMode")->setFocus();
    QTRY_COMPARE(Byte(1), 0x04);
    QCOMPARE(Byte(0), 0x00);

    Type(0, 1, "9");
    edit_->findChild<QComboBox*>("cbDataMode")->setCurrentIndex(0);  // as the operator picks the byte view
    QCOMPARE(edit_->DataMode(), 0);
    QCOMPARE(edit_->width(), 634);
    QCOMPARE(Cell(0, 1) + Cell(0, 2), QStringLiteral("0009"));
    edit_->SetDataMode(3);
    edit_->SetDataMode(-1);
    QCOMPARE(edit_->DataMode(), 0);

    // Typed for one image, committed into that one when the next is opened.
    qmx::MemoryImage other;
    other.Clear();
    Type(0, 5, "66");
    edit_->Open(&other, 16, 7);
    QCOMPARE(Byte(4), 0x66);
    QCOMPARE(other.Data()[4], 0xFF);
    QCOMPARE(edit_->DataMode(), 0);
    QCOMPARE(Grid()->model()->rowCount(), 1);
  }

  void ExitMenuClosesTheExecutedWindowAndCommits() {
    image_.Clear();
    THexEdit edit;
    edit.Open(&image_, 128, 0);
    QSignalSpy exits(edit.findChild<QAction*>("mnExit"), &QAction::triggered);
    int byteOnClose = -1;  // the main window reads the image as soon as exec() is back
    connect(&edit, &QDialog::finished, this, [&] { byteOnClose = Byte(0); });
    // Each opening starts in the grid: the keys go wherever the focus is.
    for (const char* keys : {"AB", "CD"}) {
      QTimer::singleShot(0, &edit, [&] {
        QVERIFY(QTest::qWaitForWindowActive(&edit));
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClicks(focus, keys);
        edit.findChild<QComboBox*>("cbDataMode")->setFocus();  // the operator was there last
        QTest::keyClick(focus, Qt::Key_X, Qt::ControlModifier);
      });
      QTimer::singleShot(5000, &edit, &QDialog::accept);  // a dead shortcut fails instead of hanging
      QCOMPARE(edit.exec(), int(QDialog::Rejected));
      QCOMPARE(byteOnClose, QString(keys).toInt(nullptr, 16));
    }
    QCOMPARE(exits.count(), 2);
  }
  // 64 bytes of 0xCC with 12 AB at 5 and across the byte view's first row end at 15, 12 34 56 78 across the word
  // views' first row end at 30, and "OK!" at 40. Each search starts where the one before left the cursor.
  void Search_data() {
    QTest::addColumn<int>("view");
    QTest::addColumn<int>("mode");  // 0 hex, 1 text
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<QList<int>>("found");  // the address each search finds, -1 none
    QTest::addColumn<QString>("wraps");     // per search: 'w' when it went round the part
    QTest::newRow("bytes forward, across a row") << 0 << 0 << "12 ab" << true << QList<int>{5, 15, 5} << "..w";
    QTest::newRow("bytes backward") << 0 << 0 << "12AB" << false << QList<int>{15, 5, 15} << "w.w";
    QTest::newRow("text") << 0 << 1 << "OK!" << true << QList<int>{40, 40} << ".w";
    QTest::newRow("big-endian words across a row") << 2 << 0 << "1234 5678" << true << QList<int>{30} << ".";
    QTest::newRow("little-endian words backward") << 1 << 0 << "3412 7856" << false << QList<int>{30, 30} << "ww";
    QTest::newRow("words only at word addresses") << 2 << 0 << "12AB" << true << QList<int>{-1} << ".";
    QTest::newRow("text in a word view") << 1 << 1 << "K!" << true << QList<int>{41} << ".";
    QTest::newRow("not found") << 0 << 0 << "12 AC" << true << QList<int>{-1, -1} << "..";
  }
  void Search() {
    QFETCH(int, view);
    QFETCH(int, mode);
    QFETCH(QString, pattern);
    QFETCH(bool, forward);
    QFETCH(QList<int>, found);
    QFETCH(QString, wraps);
    Show(64, view, Filled(64, {{5, "\x12\xAB"}, {15, "\x12\xAB"}, {30, "\x12\x34\x56\x78"}, {40, "OK!"}}));
    QTest::keyClick(Grid(), Qt::Key_F, Qt::ControlModifier);
    auto* find = edit_->findChild<QLineEdit*>("edFind");
    QVERIFY(find->isVisible() && find->hasFocus());
    edit_->findChild<QComboBox*>("cbFindMode")->setCurrentIndex(mode);
    QTest::keyClicks(find, pattern);
    const int bytes = view == 0 ? 1 : 2;
    const int length = mode == 1 ? int(pattern.size()) : int(QString(pattern).remove(' ').size()) / 2;
    for (int i = 0; i < found.size(); ++i) {
      const QModelIndex before = Grid()->currentIndex();
      if (i == 0 && forward) Key(Qt::Key_Return);
      else Key(Qt::Key_F3, forward ? Qt::NoModifier : Qt::ShiftModifier);
      if (found[i] < 0) {
        QCOMPARE(Grid()->currentIndex(), before);
        QCOMPARE(Status(), QStringLiteral("見つかりませんでした。"));
        continue;
      }
      QCOMPARE(Element(Grid()->currentIndex()), found[i] / bytes);
      QCOMPARE(Selected(), Span(found[i] / bytes, (found[i] + length - 1) / bytes));
      const QString address = QStringLiteral("%1").arg(found[i], 4, 16, QLatin1Char('0')).toUpper();
      QVERIFY2(Status().contains(address), qPrintable(Status()));
      QCOMPARE(Status().contains(QStringLiteral("折り返")), wraps[i] == QLatin1Char('w'));
    }
    // Escape in the search field puts the panel away; the editor stays open.
    QTest::keyClick(find, Qt::Key_Escape);
    QVERIFY(edit_->isVisible() && !find->isVisible() && Grid()->hasFocus());
  }

  void GoToAddress_data() {
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("element");  // -1: the cursor stays
    QTest::newRow("bytes") << 0 << "1A35" << 0x1A35;
    QTest::newRow("big-endian words, odd address") << 2 << "0x1a35" << 0xD1A;
    QTest::newRow("past the part") << 0 << "2000" << -1;
    QTest::newRow("not hex") << 1 << "12G" << -1;
  }
  void GoToAddress() {
    QFETCH(int, view);
    QFETCH(QString, typed);
    QFETCH(int, element);
    Show(8192, view);
    const QModelIndex before = Grid()->currentIndex();
    AnswerNextInput(typed);
    QTest::keyClick(Grid(), Qt::Key_G, Qt::ControlModifier);
    if (element < 0) {
      QCOMPARE(Grid()->currentIndex(), before);
      QVERIFY(!Status().isEmpty());
      return;
    }
    QCOMPARE(Element(Grid()->currentIndex()), element);
    QVERIFY(Grid()->viewport()->rect().contains(Grid()->visualRect(Grid()->currentIndex())));
    QCOMPARE(edit_->focusWidget(), Grid());
  }

  // A range chosen with the mouse or the keys runs in address order; the fill writes whole words in word views,
  // and undo and redo take it back and forth.
  void FillUndoRedo_data() {
    QTest::addColumn<int>("view");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("keys");  // Shift+Down instead of Shift+click
    QTest::addColumn<int>("first");  // the bytes filled
    QTest::addColumn<int>("last");
    QTest::newRow("bytes across a row") << 0 << 14 << 17 << false << 14 << 17;
    QTest::newRow("bytes chosen backwards") << 0 << 17 << 14 << false << 14 << 17;
    QTest::newRow("bytes by Shift+Down") << 0 << 14 << 30 << true << 14 << 30;
    QTest::newRow("big-endian words") << 2 << 7 << 8 << false << 14 << 17;
    QTest::newRow("little-endian words across a row") << 1 << 15 << 16 << false << 30 << 33;
  }
  void FillUndoRedo() {
    QFETCH(int, view);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, keys);
    QFETCH(int, first);
    QFETCH(int, last);
    Show(64, view, Filled(64, {}));
    Type(from / 16, from % 16 + 1, "");
    if (keys) {
      QTest::keyClick(Grid(), Qt::Key_Down, Qt::ShiftModifier);
    } else {
      const QPoint end = Grid()->visualRect(At(to / 16, to % 16 + 1)).center();
      QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, Qt::ShiftModifier, end);
    }
    QCOMPARE(Selected(), Span(std::min(from, to), std::max(from, to)));
    const auto image = [&] { return std::vector<int>(image_.Data(), image_.Data() + 64); };
    std::vector<int> filled = Filled(64, {});
    std::fill(filled.begin() + first, filled.begin() + last + 1, 0xA5);
    AnswerNextInput("a5");
    QTest::keyClick(Grid(), Qt::Key_L, Qt::ControlModifier);
    Reactivate();
    QCOMPARE(image(), filled);
    const QString a5 = view == 0 ? "A5" : "A5A5";
    QCOMPARE(Cell(to / 16, to % 16 + 1), a5);
    QTest::keyClick(Grid(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(image(), Filled(64, {}));
    QCOMPARE(Cell(to / 16, to % 16 + 1), view == 0 ? "CC" : "CCCC");
    QTest::keyClick(Grid(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(image(), filled);
    QCOMPARE(Cell(from / 16, from % 16 + 1), a5);
  }

  // Ctrl+Z in the middle of typing takes back the cell being typed first; a new edit leaves nothing to redo, a new
  // opening nothing to undo, and the history's memory has a bound.
  void TypedEditsUndoneInOrder() {
    Show(32, 0, Filled(32, {}));
    Type(0, 1, "11223");
    const auto head = [&] { return std::vector<int>(image_.Data(), image_.Data() + 6); };
    for (const std::vector<int>& after : {std::vector<int>{0x11, 0x22, 0xCC, 0xCC, 0xCC, 0xCC},
                                          {0x11, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC},
                                          {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}}) {
      QTest::keyClick(Grid(), Qt::Key_Z, Qt::ControlModifier);
      QCOMPARE(head(), after);
    }
    QCOMPARE(Cell(0, 3), QStringLiteral("CC"));
    QTest::keyClick(Grid(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Status(), QStringLiteral("元に戻す変更はありません。"));
    for (int i = 0; i < 2; ++i) QTest::keyClick(Grid(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(head(), std::vector<int>({0x11, 0x22, 0xCC, 0xCC, 0xCC, 0xCC}));
    Type(0, 6, "77");
    MoveOn();
    QTest::keyClick(Grid(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(head(), std::vector<int>({0x11, 0x22, 0xCC, 0xCC, 0xCC, 0x77}));
    QCOMPARE(Status(), QStringLiteral("やり直す変更はありません。"));
    QVERIFY(Grid()->hasFocus());
    edit_->Open(&image_, 32, 0);
    QTest::keyClick(Grid(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(head(), std::vector<int>({0x11, 0x22, 0xCC, 0xCC, 0xCC, 0x77}));
    // Whole-part fills of the largest part: past the history's bound the oldest is kept for good.
    Show(131072, 0);
    Grid()->selectAll();
    const int kept = int(qmx::app::EditHistory::kMaxBytes / (2 * 131072));
    for (int value = 1; value <= kept + 1; ++value) QVERIFY(edit_->FillSelection(value));
    for (int i = 0; i <= kept; ++i) QTest::keyClick(Grid(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Byte(0), 1);
    QCOMPARE(Byte(131071), 1);
  }

  // The marks compare the part as read with the image as it is now: past what a Compare that ended early read,
  // nothing is marked, and a cell typed to the part's value loses its mark.
  void DifferencesOnlyWhereThePartWasRead() {
    Show(64, 0, Filled(64, {}));
    std::vector<std::uint8_t> part(32, 0xCC);
    part[3] = 0x03;
    part[20] = part[21] = 0x00;
    image_.Data()[40] = 0x40;  // past the part as read
    edit_->SetPartSource([&part] { return part; });
    const auto marked = [&] {
      std::vector<int> elements;
      for (int e = 0; e < 64; ++e)
        if (At(e / 16, e % 16 + 1).data(HexGridModel::kDiffersRole).toBool()) elements.push_back(e);
      return elements;
    };
    using Marks = std::pair<int, std::vector<int>>;
    for (const auto& [view, expected] : {Marks{0, {3, 20, 21}}, Marks{2, {1, 10}}}) {
      edit_->Open(&image_, 64, view);
      QCOMPARE(marked(), expected);
      QVERIFY2(Status().contains(QString::number(expected.size())) && Status().contains("001F"), qPrintable(Status()));
    }
    edit_->Open(&image_, 64, 0);
    QCOMPARE(At(0, 4).data(Qt::ToolTipRole).toString(), QStringLiteral("CC (デバイス 03)"));
    Type(0, 4, "03");
    MoveOn();
    QCOMPARE(marked(), std::vector<int>({20, 21}));
  }

  void FailedCompareMarksExactlyTheDifferingCells_data() {
    QTest::addColumn<QString>("part");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("device");
    QTest::addColumn<std::vector<int>>("elements");
    // The part differs at 10, 11 and its last byte.
    QTest::newRow("24C02 bytes") << "24C02" << 1 << 2 << std::vector<int>{0x10, 0x11, 0xFF};
    QTest::newRow("93C46 big-endian words") << "93C46" << 0 << 1 << std::vector<int>{0x08, 0x3F};
  }
  void FailedCompareMarksExactlyTheDifferingCells() {
    QFETCH(QString, part);
    QFETCH(int, type);
    QFETCH(int, device);
    QFETCH(std::vector<int>, elements);
    SetUpFixture();
    Connect("QMX-71A", part.toLocal8Bit().constData(), type, device);
    const std::size_t size = sim_->PartContents().size();
    const auto data = Pattern(size, 1);
    QVERIFY(w_->LoadDataFile(HexFile("data.hex", data)));
    auto contents = data;
    for (std::size_t offset : {std::size_t{0x10}, std::size_t{0x11}, size - 1}) contents[offset] ^= 0x5A;
    QVERIFY(sim_->SetPartContents(contents));
    // What the editor marks and says when opened from the window, as the operator opens it.
    const auto opened = [&] {
      THexEdit* editor = w_->HexEditor();
      std::vector<int> marked, visited;
      QString status;
      QTimer::singleShot(0, editor, [&] {
        const QAbstractItemModel* model = editor->findChild<QTableView*>("DGrid")->model();
        for (int row = 0; row < model->rowCount(); ++row)
          for (int column = 1; column <= 16; ++column) {
            const bool differs = model->index(row, column).data(HexGridModel::kDiffersRole).toBool();
            if (differs) marked.push_back(row * 16 + column - 1);
          }
        status = editor->findChild<QStatusBar*>("StatusBar")->currentMessage();
        // Each next difference in address order (Ctrl+D; offscreen, a dialog over a window never becomes the
        // active window, so the action is triggered as its shortcut would).
        auto* grid = editor->findChild<QTableView*>("DGrid");
        for (std::size_t i = 0; i < marked.size(); ++i) {
          editor->findChild<QAction*>("mnNextDiff")->trigger();
          visited.push_back(grid->currentIndex().row() * 16 + grid->currentIndex().column() - 1);
        }
        editor->close();
      });
      QTimer::singleShot(5000, editor, &QDialog::accept);  // never hangs
      w_->mnHexEditorClick();
      return std::tuple{marked, visited, status};
    };
    w_->CompareBtnClick();
    QVERIFY(WaitDone());
    const auto [marked, visited, status] = opened();
    QCOMPARE(marked, elements);
    QCOMPARE(visited, elements);
    QCOMPARE(status, QStringLiteral("比較の相違: %1 セル").arg(elements.size()));
    // A Read makes the image the part: nothing is left to mark.
    w_->ReadBtnClick();
    QVERIFY(WaitDone());
    QCOMPARE(std::get<0>(opened()), std::vector<int>());
  }
};

QTEST_MAIN(HexEditTest)
#include "hex_edit_test.moc"
