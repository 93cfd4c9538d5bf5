// The hex editor as the operator sees it: the window, the grid per view and
// part size, the cells and tooltips, typing into the image, closing from the menu.
#include "tests/gui/hex_edit_fixture.h"

class HexEditTest : public HexEditFixture {
  Q_OBJECT

 private slots:
  void cleanup() { TearDownEditor(); }

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
};

QTEST_MAIN(HexEditTest)
#include "hex_edit_test.moc"
