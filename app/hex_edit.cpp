#include "app/hex_edit.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>

#include "app/fonts.h"

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
constexpr int kPerRow = 16;
constexpr int kTextColumn = kPerRow + 1;

bool IsDataColumn(int column) { return column >= 1 && column <= kPerRow; }

}  // namespace

// The image as rows of 16 elements: texts are made only for the cells the view asks for. While the operator
// types into a cell, the typed text stands in for the element until it is committed.
class HexGridModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetSource(MemoryImage* image, int size, int view) {
    beginResetModel();
    image_ = image;
    size_ = image ? std::clamp(size, 0, int(MemoryImage::kCapacity)) : 0;
    view_ = view;
    pending_ = -1;
    pendingText_.clear();
    endResetModel();
  }

  int ElementCount() const { return view_ == 0 ? size_ : size_ / 2; }
  int Digits() const { return view_ == 0 ? 2 : 4; }

  // The element a cell shows, or -1 for the address and text cells and for cells past the last element.
  int ElementAt(const QModelIndex& index) const {
    if (!index.isValid() || !IsDataColumn(index.column())) return -1;
    const int element = index.row() * kPerRow + index.column() - 1;
    return element < ElementCount() ? element : -1;
  }
  QModelIndex IndexOf(int element) const { return index(element / kPerRow, element % kPerRow + 1); }

  // What has been typed into the element; a cell just entered has nothing, so the first digit replaces its text.
  QString Typed(int element) const { return element == pending_ ? pendingText_ : QString(); }
  void SetPending(int element, const QString& text) {
    pending_ = element;
    pendingText_ = text;
    Changed(element);
  }
  void SetEditable(std::function<bool()> editable) { editable_ = std::move(editable); }
  bool Editable() const { return !editable_ || editable_(); }

  // An emptied cell, or one that does not parse, leaves the element as it was; so does a read-only grid.
  void Commit() {
    const int element = pending_;
    if (element < 0) return;
    pending_ = -1;
    bool ok = false;
    const unsigned value = pendingText_.toUInt(&ok, 16);
    if (ok && !pendingText_.isEmpty() && pendingText_.size() <= Digits() && Editable()) Store(element, value);
    pendingText_.clear();
    Changed(element);
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : std::max(1, ElementCount() / kPerRow);
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : (view_ == 0 ? kTextColumn + 1 : kPerRow + 1);
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) {
      if (index.column() == 0) return AddressText(index.row());
      if (index.column() == kTextColumn) return DumpText(index.row());
      const int element = ElementAt(index);
      if (element < 0) return QString();
      return element == pending_ ? pendingText_ : ValueText(element);
    }
    if (role == Qt::ToolTipRole) {
      const int element = ElementAt(index);
      if (element >= 0) return ValueText(element);
    }
    return {};
  }

  // Only elements are places to stand: typing in the address or text column, or past the last element, would
  // go nowhere. The view skips disabled cells when moving.
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (ElementAt(index) < 0) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == 0) return QStringLiteral("Address");
    if (section == kTextColumn) return QStringLiteral("Dump Data");
    return QStringLiteral("+%1").arg(section - 1, 2, 16, QLatin1Char('0')).toUpper();
  }

 private:
  int Value(int element) const {
    const std::uint8_t* bytes = image_->Data();
    if (view_ == 0) return bytes[element];
    const int first = bytes[2 * element], second = bytes[2 * element + 1];
    return view_ == 1 ? first | second << 8 : first << 8 | second;
  }
  QString ValueText(int element) const {
    return QStringLiteral("%1").arg(Value(element), Digits(), 16, QLatin1Char('0')).toUpper();
  }
  // The word goes back in the order the view reads it, so the cell shows what was typed.
  void Store(int element, unsigned value) {
    std::uint8_t* bytes = image_->Data();
    if (view_ == 0) {
      bytes[element] = std::uint8_t(value);
    } else {
      const auto high = std::uint8_t(value >> 8), low = std::uint8_t(value);
      bytes[2 * element] = view_ == 1 ? low : high;
      bytes[2 * element + 1] = view_ == 1 ? high : low;
    }
  }
  void Changed(int element) {
    const QModelIndex cell = IndexOf(element);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    if (view_ == 0) {
      const QModelIndex text = index(cell.row(), kTextColumn);
      emit dataChanged(text, text, {Qt::DisplayRole});
    }
  }

  QString AddressText(int row) const {
    int digits = 1;
    for (int last = ElementCount() - 1; last >= 16; last >>= 4) ++digits;
    return QStringLiteral("%1").arg(row * kPerRow, std::max(4, digits), 16, QLatin1Char('0')).toUpper();
  }
  QString DumpText(int row) const {
    QString text;
    text.reserve(kPerRow + 1);
    for (int i = 0; i < kPerRow; ++i) {
      if (i == kPerRow / 2) text += QLatin1Char('-');
      const int offset = row * kPerRow + i;
      if (offset >= size_) {
        text += QLatin1Char(' ');
      } else {
        // DEL has no glyph in the grid's fonts and would draw as a box: it gets the dot, as the controls do.
        const std::uint8_t byte = image_->Data()[offset];
        text += byte >= 0x20 && byte < 0x7F ? QChar(byte) : QLatin1Char('.');
      }
    }
    return text;
  }

  MemoryImage* image_ = nullptr;
  int size_ = 0;
  int view_ = 2;
  int pending_ = -1;  // the element being typed into
  QString pendingText_;
  std::function<bool()> editable_;
};

// Data cells on their own shade with the text at the top left; the rest as the style draws it.
class HexCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!IsDataColumn(index.column())) {
      QStyleOptionViewItem plain(option);
      plain.state |= QStyle::State_Enabled;  // the addresses are disabled only so the cursor skips them
      QStyledItemDelegate::paint(painter, plain, index);
      return;
    }
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->save();
    painter->fillRect(option.rect, selected ? palette.brush(QPalette::Highlight) : CellColour(palette));
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(option.rect.adjusted(2, 1, -2, -1), Qt::AlignLeft | Qt::AlignTop, index.data().toString());
    painter->restore();
  }

  static QColor CellColour(const QPalette& palette) {
    return palette.color(QPalette::Inactive, QPalette::Window).darker(108);
  }
};

// The grid takes the typing itself rather than through a cell editor, so the window's shortcuts (Ctrl+X)
// keep working while a cell is being typed into.
class HexGridView : public QTableView {
 public:
  HexGridView(HexGridModel* model, QWidget* parent) : QTableView(parent), model_(model) {
    setModel(model);
    setItemDelegate(new HexCellDelegate(this));
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != Qt::NoModifier) {
      QTableView::keyPressEvent(event);
      return;
    }
    const int element = model_->Editable() ? model_->ElementAt(currentIndex()) : -1;
    if (event->key() == Qt::Key_Backspace) {
      // In a cell just entered this empties it, as an editor with its text selected would.
      if (element >= 0) {
        QString text = model_->Typed(element);
        text.chop(1);
        model_->SetPending(element, text);
      }
      event->accept();
      return;
    }
    const QString typed = event->text();
    if (typed.size() != 1 || !typed[0].isPrint()) {
      QTableView::keyPressEvent(event);
      return;
    }
    event->accept();  // printable keys never reach the view's search
    const QChar digit = typed[0].toUpper();
    const bool hex = (digit >= QLatin1Char('0') && digit <= QLatin1Char('9')) ||
                     (digit >= QLatin1Char('A') && digit <= QLatin1Char('F'));
    if (!hex || element < 0) return;
    const QString typedSoFar = model_->Typed(element);
    if (typedSoFar.size() < model_->Digits()) {
      model_->SetPending(element, typedSoFar + digit);
    } else if (element + 1 < model_->ElementCount()) {
      // A full cell: the digit starts the next one (committing this one on the way).
      setCurrentIndex(model_->IndexOf(element + 1));
      model_->SetPending(element + 1, digit);
    }
  }

  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override {
    model_->Commit();
    QTableView::currentChanged(current, previous);
  }

  void focusOutEvent(QFocusEvent* event) override {
    model_->Commit();
    QTableView::focusOutEvent(event);
  }

 private:
  HexGridModel* model_;
};

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

  model_ = new HexGridModel(this);
  DGrid = new HexGridView(model_, this);
  DGrid->setObjectName("DGrid");
  DGrid->setFont(LogFont());
  DGrid->setShowGrid(true);
  DGrid->setWordWrap(false);
  DGrid->setCornerButtonEnabled(false);
  DGrid->setSelectionMode(QAbstractItemView::SingleSelection);
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

void THexEdit::Open(MemoryImage* image, int size, int view) {
  image_ = image;
  size_ = size;
  SetDataMode(view >= 0 && view <= 2 ? view : view_);
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
