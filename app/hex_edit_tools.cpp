// The hex editor's 編集 menu: search, go to an address, fill, undo and redo,
// and the report of where the part as last compared differs.
#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

#include "app/hex_edit.h"
#include "app/hex_edit_grid.h"
#include "app/hex_search.h"

namespace qmx::app {

namespace {

QString Hex(int value, int digits = 4) {
  return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// An address or a byte as the operator types it: hex, with or without 0x; -1 when it is not one.
int ParseHex(QString text) {
  text = text.trimmed();
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) text = text.mid(2);
  bool ok = false;
  const int value = text.toInt(&ok, 16);
  return ok && value >= 0 && !text.isEmpty() ? value : -1;
}

}  // namespace

void THexEdit::BuildEditMenu(QVBoxLayout* column) {
  QMenu* edit = Menu->addMenu(tr("編集(&E)"));
  edit->setObjectName("mnEdit");
  auto add = [&](QAction** action, const char* name, const QString& text, const QKeySequence& key) {
    *action = edit->addAction(text);
    (*action)->setObjectName(name);
    (*action)->setShortcut(key);
  };
  add(&mnUndo, "mnUndo", tr("元に戻す(&U)"), QKeySequence("Ctrl+Z"));
  add(&mnRedo, "mnRedo", tr("やり直し(&R)"), QKeySequence("Ctrl+Y"));
  edit->addSeparator();
  add(&mnFind, "mnFind", tr("検索(&F)"), QKeySequence("Ctrl+F"));
  add(&mnFindNext, "mnFindNext", tr("次を検索(&N)"), QKeySequence("F3"));
  add(&mnFindPrev, "mnFindPrev", tr("前を検索(&P)"), QKeySequence("Shift+F3"));
  add(&mnGoTo, "mnGoTo", tr("アドレスへ移動(&G)"), QKeySequence("Ctrl+G"));
  edit->addSeparator();
  add(&mnFill, "mnFill", tr("範囲を埋める(&L)"), QKeySequence("Ctrl+L"));
  add(&mnNextDiff, "mnNextDiff", tr("次の相違へ(&D)"), QKeySequence("Ctrl+D"));
  connect(mnUndo, &QAction::triggered, this, &THexEdit::Undo);
  connect(mnRedo, &QAction::triggered, this, &THexEdit::Redo);
  connect(mnFind, &QAction::triggered, this, &THexEdit::ShowFindPanel);
  connect(mnFindNext, &QAction::triggered, this, &THexEdit::FindNext);
  connect(mnFindPrev, &QAction::triggered, this, &THexEdit::FindPrevious);
  connect(mnGoTo, &QAction::triggered, this, &THexEdit::AskGoTo);
  connect(mnFill, &QAction::triggered, this, &THexEdit::AskFill);
  connect(mnNextDiff, &QAction::triggered, this, &THexEdit::NextDifference);

  // Hidden until asked for, so the grid keeps its rows; it stays open for the next search.
  FindPanel = new QFrame(this);
  FindPanel->setObjectName("FindPanel");
  FindPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* row = new QHBoxLayout(FindPanel);
  row->setContentsMargins(8, 2, 8, 2);
  auto* label = new QLabel(tr("検索"), FindPanel);
  cbFindMode = new QComboBox(FindPanel);
  cbFindMode->setObjectName("cbFindMode");
  cbFindMode->addItems({tr("16進"), tr("テキスト")});
  edFind = new QLineEdit(FindPanel);
  edFind->setObjectName("edFind");
  row->addWidget(label);
  row->addWidget(cbFindMode);
  row->addWidget(edFind, 1);
  for (QAction* action : {mnFindPrev, mnFindNext}) {
    auto* button = new QToolButton(FindPanel);  // not a push button: Return would press it and close nothing else
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    row->addWidget(button);
  }
  FindPanel->hide();
  column->addWidget(FindPanel);
  connect(edFind, &QLineEdit::returnPressed, this, &THexEdit::FindNext);
  // Escape in the search field puts the panel away instead of closing the editor.
  auto* away = new QShortcut(QKeySequence(Qt::Key_Escape), edFind, nullptr, nullptr, Qt::WidgetShortcut);
  connect(away, &QShortcut::activated, this, [this] {
    FindPanel->hide();
    DGrid->setFocus();
  });
  connect(edFind, &QLineEdit::textChanged, this, [this] { lastFound_ = -1; });
  connect(cbFindMode, &QComboBox::currentIndexChanged, this, [this] { lastFound_ = -1; });
}

void THexEdit::ShowFindPanel() {
  FindPanel->show();
  edFind->setFocus();
  edFind->selectAll();
}

bool THexEdit::FindNext() { return Find(true); }
bool THexEdit::FindPrevious() { return Find(false); }

// From the cell under the cursor: forward takes a match there, backward only one before it; a match just found
// is passed over, so the next search moves on. Either goes round the part once.
bool THexEdit::Find(bool forward) {
  if (!image_) return false;
  model_->Commit();  // a cell still being typed into is searched as typed
  const QString text = edFind->text();
  std::optional<SearchPattern> pattern;
  if (cbFindMode->currentIndex() == 0) {
    pattern = HexPattern(text.toStdString(), view_);
  } else if (!text.isEmpty()) {
    pattern = TextPattern(text.toUtf8().toStdString());
  }
  if (!pattern) {
    ShowFindPanel();
    if (cbFindMode->currentIndex() != 0) {
      StatusBar->showMessage(tr("検索する文字を入力してください。"));
    } else {
      StatusBar->showMessage(view_ == 0 ? tr("16進の値を2桁ずつ入力してください。")
                                        : tr("16進の値を4桁ずつ入力してください。"));
    }
    return false;
  }
  const int bytes = BytesPerElement();
  const int element = model_->ElementAt(DGrid->currentIndex());
  const int at = std::max(element, 0) * bytes;
  int from = forward ? at : at - 1;
  if (lastFound_ >= 0 && lastFound_ / bytes == element) from = forward ? lastFound_ + 1 : lastFound_ - 1;
  const SearchHit hit = FindPattern(image_->Data(), model_->Size(), *pattern, from, forward);
  if (hit.offset < 0) {
    StatusBar->showMessage(tr("見つかりませんでした。"));
    return false;
  }
  DGrid->SelectElements(hit.offset / bytes, (hit.offset + int(pattern->bytes.size()) - 1) / bytes);
  lastFound_ = hit.offset;
  const QString where = tr("アドレス %1 に見つかりました。").arg(Hex(hit.offset));
  StatusBar->showMessage(hit.wrapped ? where + QLatin1Char(' ') + tr("(折り返して検索しました)") : where);
  return true;
}

bool THexEdit::GoToAddress(int address) {
  if (address < 0 || address >= model_->ElementCount() * BytesPerElement()) {
    StatusBar->showMessage(tr("アドレスがデバイスの範囲外です。"));
    return false;
  }
  DGrid->SelectElements(address / BytesPerElement(), address / BytesPerElement());
  DGrid->setFocus();
  StatusBar->clearMessage();
  return true;
}

void THexEdit::AskGoTo() {
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, tr("アドレスへ移動"), tr("アドレス (16進)"), QLineEdit::Normal, QString(), &ok);
  if (!ok) return;
  const int address = ParseHex(text);
  if (address < 0) {
    StatusBar->showMessage(tr("アドレスは16進で入力してください。"));
    return;
  }
  GoToAddress(address);
}

bool THexEdit::FillSelection(int value) {
  model_->Commit();
  const auto [first, last] = DGrid->SelectedElements();
  if (first < 0 || value < 0 || value > 0xFF || !model_->Editable()) return false;
  const int bytes = BytesPerElement();
  model_->Change(first * bytes,
                 std::vector<std::uint8_t>(std::size_t((last - first + 1) * bytes), std::uint8_t(value)));
  StatusBar->showMessage(tr("%1 から %2 バイトを %3 で埋めました。")
                             .arg(Hex(first * bytes))
                             .arg((last - first + 1) * bytes)
                             .arg(Hex(value, 2)));
  return true;
}

void THexEdit::AskFill() {
  const auto [first, last] = DGrid->SelectedElements();
  if (first < 0 || !model_->Editable()) return;
  bool ok = false;
  const QString text = QInputDialog::getText(this, tr("範囲を埋める"), tr("埋める値 (16進 00～FF)"), QLineEdit::Normal,
                                             QStringLiteral("FF"), &ok);
  if (!ok) return;
  const int value = ParseHex(text);
  if (value < 0 || value > 0xFF) {
    StatusBar->showMessage(tr("埋める値は16進 00～FF で入力してください。"));
    return;
  }
  FillSelection(value);
}

// Typing still in a cell is a change of its own: it is committed first, so it is the one undone.
void THexEdit::Undo() {
  model_->Commit();
  ShowChange(model_->Editable() ? history_.Undo(image_->Data()) : EditHistory::Range{},
             tr("元に戻す変更はありません。"));
}

void THexEdit::Redo() {
  model_->Commit();
  ShowChange(model_->Editable() ? history_.Redo(image_->Data()) : EditHistory::Range{},
             tr("やり直す変更はありません。"));
}

void THexEdit::ShowChange(EditHistory::Range range, const QString& none) {
  if (range.offset < 0) {
    StatusBar->showMessage(none);
    return;
  }
  model_->Refresh(range.offset, range.count);
  DGrid->SelectElements(range.offset / BytesPerElement(), (range.offset + range.count - 1) / BytesPerElement());
  StatusBar->clearMessage();
}

bool THexEdit::NextDifference() {
  const int count = model_->ElementCount();
  const int current = std::max(model_->ElementAt(DGrid->currentIndex()), 0);
  for (int step = 1; step <= count; ++step) {
    const int element = (current + step) % count;
    if (!model_->Differs(element)) continue;
    DGrid->SelectElements(element, element);
    return true;
  }
  StatusBar->showMessage(tr("相違のあるセルはありません。"));
  return false;
}

// A Compare that ended early marks only what it read: the operator is told where the marks stop.
void THexEdit::ShowDifferences() {
  const int read = int(model_->Part().size());
  if (read == 0) {
    StatusBar->clearMessage();
    return;
  }
  QString text = tr("比較の相違: %1 セル").arg(model_->DifferingElements());
  if (read < model_->Size()) text += QLatin1Char(' ') + tr("(比較は %1 までで終わりました)").arg(Hex(read - 1));
  StatusBar->showMessage(text);
}

}  // namespace qmx::app
