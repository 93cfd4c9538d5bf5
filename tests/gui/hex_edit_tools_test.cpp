// The hex editor's tools: search, go to, fill, undo and redo, and the cells a
// failed Compare against the simulated programmer marks.
#include "tests/gui/hex_edit_fixture.h"

class HexEditToolsTest : public HexEditFixture {
  Q_OBJECT

 private slots:
  void cleanup() { TearDownEditor(); }

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

QTEST_MAIN(HexEditToolsTest)
#include "hex_edit_tools_test.moc"
