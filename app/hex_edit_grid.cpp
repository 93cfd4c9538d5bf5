#include "app/hex_edit_grid.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

#include "app/edit_history.h"

namespace qmx::app {

void HexGridModel::SetSource(MemoryImage* image, int size, int view) {
  beginResetModel();
  image_ = image;
  size_ = image ? std::clamp(size, 0, int(MemoryImage::kCapacity)) : 0;
  view_ = view;
  pending_ = -1;
  pendingText_.clear();
  endResetModel();
}

void HexGridModel::SetPart(std::vector<std::uint8_t> part) {
  part_ = std::move(part);
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int HexGridModel::DifferingElements() const {
  int count = 0;
  for (int element = 0; element < ElementCount(); ++element) count += Differs(element) ? 1 : 0;
  return count;
}

// The first row from `first` on, the rows between whole, the last row up to `last`.
QItemSelection HexGridModel::Range(int first, int last) const {
  const int firstRow = first / kPerRow, lastRow = last / kPerRow;
  QItemSelection selection;
  selection.select(IndexOf(first), firstRow == lastRow ? IndexOf(last) : index(firstRow, kPerRow));
  if (lastRow - firstRow > 1) selection.select(index(firstRow + 1, 1), index(lastRow - 1, kPerRow));
  if (lastRow != firstRow) selection.select(index(lastRow, 1), IndexOf(last));
  return selection;
}

int HexGridModel::ElementAt(const QModelIndex& index) const {
  if (!index.isValid() || !IsDataColumn(index.column())) return -1;
  const int element = index.row() * kPerRow + index.column() - 1;
  return element < ElementCount() ? element : -1;
}

void HexGridModel::SetPending(int element, const QString& text) {
  pending_ = element;
  pendingText_ = text;
  Changed(element);
}

void HexGridModel::Commit() {
  const int element = pending_;
  if (element < 0) return;
  pending_ = -1;
  bool ok = false;
  const unsigned value = pendingText_.toUInt(&ok, 16);
  if (ok && !pendingText_.isEmpty() && pendingText_.size() <= Digits() && Editable()) Store(element, value);
  pendingText_.clear();
  Changed(element);
}

void HexGridModel::Change(int offset, const std::vector<std::uint8_t>& bytes) {
  const EditHistory::Range changed = history_->Apply(image_->Data(), offset, bytes);
  if (changed.offset >= 0) Refresh(changed.offset, changed.count);
}

void HexGridModel::Refresh(int offset, int count) {
  if (count <= 0 || ElementCount() == 0) return;
  const int perRow = kPerRow * BytesPerElement();
  const int first = std::min(offset / perRow, rowCount() - 1),
            last = std::min((offset + count - 1) / perRow, rowCount() - 1);
  emit dataChanged(index(first, 0), index(last, columnCount() - 1), {Qt::DisplayRole});
}

int HexGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(1, ElementCount() / kPerRow);
}

int HexGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : (view_ == 0 ? kTextColumn + 1 : kPerRow + 1);
}

QVariant HexGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) {
    if (index.column() == 0) return AddressText(index.row());
    if (index.column() == kTextColumn) return DumpText(index.row());
    const int element = ElementAt(index);
    if (element < 0) return QString();
    return element == pending_ ? pendingText_ : ValueText(image_->Data(), element);
  }
  const int element = ElementAt(index);
  if (element < 0) return {};
  if (role == kDiffersRole) return Differs(element);
  if (role == Qt::ToolTipRole) {
    const QString value = ValueText(image_->Data(), element);
    if (!Differs(element)) return value;
    // The part's value beside the buffer's, so the operator need not look it up in the log.
    return QCoreApplication::translate("qmx::app::THexEdit", "%1 (デバイス %2)")
        .arg(value, ValueText(part_.data(), element));
  }
  return {};
}

// Only elements are places to stand: typing in the address or text column, or past the last element, would
// go nowhere. The view skips disabled cells when moving.
Qt::ItemFlags HexGridModel::flags(const QModelIndex& index) const {
  if (ElementAt(index) < 0) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant HexGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == 0) return QStringLiteral("Address");
  if (section == kTextColumn) return QStringLiteral("Dump Data");
  return QStringLiteral("+%1").arg(section - 1, 2, 16, QLatin1Char('0')).toUpper();
}

int HexGridModel::Value(const std::uint8_t* bytes, int element) const {
  if (view_ == 0) return bytes[element];
  const int first = bytes[2 * element], second = bytes[2 * element + 1];
  return view_ == 1 ? first | second << 8 : first << 8 | second;
}

QString HexGridModel::ValueText(const std::uint8_t* bytes, int element) const {
  return QStringLiteral("%1").arg(Value(bytes, element), Digits(), 16, QLatin1Char('0')).toUpper();
}

// A compare that ended early read only a prefix: past it nothing is known, so nothing is marked.
bool HexGridModel::Differs(int element) const {
  const int first = element * BytesPerElement(), end = first + BytesPerElement();
  if (!image_ || end > int(part_.size())) return false;
  return !std::equal(part_.begin() + first, part_.begin() + end, image_->Data() + first);
}

// The word goes back in the order the view reads it, so the cell shows what was typed.
void HexGridModel::Store(int element, unsigned value) {
  if (view_ == 0) {
    Change(element, {std::uint8_t(value)});
    return;
  }
  const auto high = std::uint8_t(value >> 8), low = std::uint8_t(value);
  Change(2 * element, view_ == 1 ? std::vector<std::uint8_t>{low, high} : std::vector<std::uint8_t>{high, low});
}

void HexGridModel::Changed(int element) {
  const QModelIndex cell = IndexOf(element);
  emit dataChanged(cell, cell, {Qt::DisplayRole});
  if (view_ == 0) {
    const QModelIndex text = index(cell.row(), kTextColumn);
    emit dataChanged(text, text, {Qt::DisplayRole});
  }
}

QString HexGridModel::AddressText(int row) const {
  int digits = 1;
  for (int last = ElementCount() - 1; last >= 16; last >>= 4) ++digits;
  return QStringLiteral("%1").arg(row * kPerRow, std::max(4, digits), 16, QLatin1Char('0')).toUpper();
}

QString HexGridModel::DumpText(int row) const {
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

namespace {

// Data cells on their own shade with the text at the top left, differing ones on another; the rest as the style
// draws it.
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
    const bool differs = index.data(HexGridModel::kDiffersRole).toBool();
    const QPalette& palette = option.palette;
    painter->save();
    painter->fillRect(option.rect, selected  ? palette.brush(QPalette::Highlight)
                                   : differs ? QBrush(DifferingColour())
                                             : QBrush(CellColour(palette)));
    painter->setPen(selected  ? palette.color(QPalette::HighlightedText)
                    : differs ? QColor(Qt::black)
                              : palette.color(QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(option.rect.adjusted(2, 1, -2, -1), Qt::AlignLeft | Qt::AlignTop, index.data().toString());
    painter->restore();
  }

  static QColor CellColour(const QPalette& palette) {
    return palette.color(QPalette::Inactive, QPalette::Window).darker(108);
  }
  static QColor DifferingColour() { return QColor(0xFF, 0xB0, 0xB0); }
};

}  // namespace

HexGridView::HexGridView(HexGridModel* model, QWidget* parent) : QTableView(parent), model_(model) {
  setModel(model);
  setItemDelegate(new HexCellDelegate(this));
}

std::pair<int, int> HexGridView::SelectedElements() const {
  int first = -1, last = -1;
  const int count = model_->ElementCount();
  for (const QItemSelectionRange& range : selectionModel()->selection()) {
    const int from = range.top() * kPerRow + std::max(range.left(), 1) - 1;
    const int to = std::min(range.bottom() * kPerRow + std::min(range.right(), kPerRow) - 1, count - 1);
    if (from > to) continue;
    first = first < 0 ? from : std::min(first, from);
    last = std::max(last, to);
  }
  return {first, last};
}

void HexGridView::SelectElements(int first, int last) {
  const int count = model_->ElementCount();
  if (count == 0) return;
  first = std::clamp(first, 0, count - 1);
  last = std::clamp(last, first, count - 1);
  setCurrentIndex(model_->IndexOf(first));  // commits what was typed
  selectionModel()->select(model_->Range(first, last), QItemSelectionModel::ClearAndSelect);
  scrollTo(model_->IndexOf(last));
  scrollTo(model_->IndexOf(first));
}

void HexGridView::keyPressEvent(QKeyEvent* event) {
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

void HexGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  model_->Commit();
  QTableView::currentChanged(current, previous);
}

void HexGridView::focusOutEvent(QFocusEvent* event) {
  model_->Commit();
  QTableView::focusOutEvent(event);
}

// Qt passes the anchor as the rectangle's first corner and the cursor as its second, unordered.
void HexGridView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  const int anchor = ElementNear(rect.topLeft()), end = ElementNear(rect.bottomRight());
  if (anchor < 0 || end < 0) {
    QTableView::setSelection(rect, command);
    return;
  }
  selectionModel()->select(model_->Range(std::min(anchor, end), std::max(anchor, end)), command);
}

// The element under a point of the viewport, or the nearest one in its row; points above or below the rows in
// sight count by the fixed row height, so an anchor scrolled away still counts.
int HexGridView::ElementNear(QPoint point) const {
  const int count = model_->ElementCount();
  if (count == 0) return -1;
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  const int y = point.y() + verticalOffset();
  const int row = std::clamp(y < 0 ? 0 : y / rowHeight, 0, model_->rowCount() - 1);
  int column = columnAt(point.x());
  if (column < 0) column = point.x() < 0 ? 1 : kPerRow;
  return std::min(row * kPerRow + std::clamp(column, 1, kPerRow) - 1, count - 1);
}

}  // namespace qmx::app
