#include "app/hex_edit.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/fonts.h"
#include "app/hex_edit_grid.h"

namespace qmx::app {

namespace {

constexpr int kClientWidth = 709;
constexpr int kClientHeight = 425;
constexpr int kMinimumHeight = 256;
constexpr int kByteViewWidth = 634;
constexpr int kWordViewWidth = 694;
constexpr int kPanelHeight = 29;
constexpr int kRowHeight = 18;
constexpr int kAddressWidth = 64;
constexpr int kByteCellWidth = 24;
constexpr int kWordCellWidth = 36;
constexpr int kTextWidth = 128;

}  // namespace

THexEdit::THexEdit(QWidget* parent) : QDialog(parent) {
  setObjectName("HexEdit");
  setWindowTitle("Hex Editor");
  setFont(UiFont());

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Menu = new QMenuBar(this);
  Menu->setObjectName("Menu");
  QMenu* file = Menu->addMenu(tr("ファイル(&F)"));
  file->setObjectName("mnFile");
  mnExit = file->addAction(tr("HEXエディタの終了(&X)"));
  mnExit->setObjectName("mnExit");
  mnExit->setShortcut(QKeySequence("Ctrl+X"));
  connect(mnExit, &QAction::triggered, this, &QWidget::close);
  column->setMenuBar(Menu);

  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFixedHeight(kPanelHeight);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Label1 = new QLabel(tr("データーモード"), panel);
  Label1->setObjectName("Label1");
  Label1->setGeometry(8, 6, 84, 17);
  cbDataMode = new QComboBox(panel);
  cbDataMode->setObjectName("cbDataMode");
  cbDataMode->addItems({tr("バイトモード"), tr("リトルエンディアン"), tr("ビッグエンディアン")});
  cbDataMode->setCurrentIndex(view_);
  cbDataMode->setGeometry(96, 3, 145, 23);
  column->addWidget(panel);
  BuildEditMenu(column);  // its search panel goes under the data mode's

  model_ = new HexGridModel(&history_, this);
  DGrid = new HexGridView(model_, this);
  DGrid->setObjectName("DGrid");
  DGrid->setFont(LogFont());
  DGrid->setShowGrid(true);
  DGrid->setWordWrap(false);
  DGrid->setCornerButtonEnabled(false);
  DGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);  // a range to fill
  DGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
  DGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DGrid->verticalHeader()->hide();
  DGrid->verticalHeader()->setMinimumSectionSize(0);
  DGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  DGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  QHeaderView* header = DGrid->horizontalHeader();
  header->setMinimumSectionSize(0);
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setHighlightSections(false);
  column->addWidget(DGrid, 1);

  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName("StatusBar");
  column->addWidget(StatusBar);

  connect(cbDataMode, &QComboBox::currentIndexChanged, this, &THexEdit::SetDataMode);

  // Qt sizes exclude the frame; the menu bar is inside the widget, so it comes on top of the client height.
  setMinimumHeight(kMinimumHeight);
  resize(kClientWidth, kClientHeight + Menu->sizeHint().height());
  SetDataMode(view_);
  DGrid->setFocus();  // the operator opens the editor to type
}

THexEdit::~THexEdit() = default;

// Undo belongs to the image as it was opened: a read or a load in between would have it write stale bytes.
void THexEdit::Open(MemoryImage* image, int size, int view) {
  model_->Commit();
  image_ = image;
  size_ = size;
  history_.Clear();
  lastFound_ = -1;
  model_->SetPart(partSource_ ? partSource_() : std::vector<std::uint8_t>());
  SetDataMode(view >= 0 && view <= 2 ? view : view_);
  ShowDifferences();
}

void THexEdit::SetDataMode(int view) {
  if (view < 0 || view > 2) return;
  model_->Commit();
  view_ = view;
  {
    const QSignalBlocker quiet(cbDataMode);
    cbDataMode->setCurrentIndex(view);
  }
  model_->SetSource(image_, size_, view);
  DGrid->setColumnWidth(0, kAddressWidth);
  for (int c = 1; c <= kPerRow; ++c) DGrid->setColumnWidth(c, view == 0 ? kByteCellWidth : kWordCellWidth);
  if (view == 0) DGrid->setColumnWidth(kTextColumn, kTextWidth);
  DGrid->setCurrentIndex(model_->index(0, 1));
  const int width = view == 0 ? kByteViewWidth : kWordViewWidth;
  setMinimumWidth(width);
  setMaximumWidth(width);
}

int THexEdit::DataMode() const { return view_; }

void THexEdit::SetEditable(std::function<bool()> editable) { model_->SetEditable(std::move(editable)); }

void THexEdit::SetPartSource(std::function<std::vector<std::uint8_t>()> source) { partSource_ = std::move(source); }

// The focus goes back to the grid at every opening: a closed dialog may hand it to the first control.
void THexEdit::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  DGrid->setFocus();
}

// Some platforms take the focus away only after the window is gone; the caller reads the image when exec() returns.
void THexEdit::hideEvent(QHideEvent* event) {
  model_->Commit();
  QDialog::hideEvent(event);
}

}  // namespace qmx::app
