// The hex editor's grid: the image as rows of 16 bytes or words, typed into
// cell by cell, with the cells where the part as last compared differs from
// the image drawn in their own colour.
#pragma once

#include <QAbstractTableModel>
#include <QItemSelection>
#include <QString>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <vector>

#include "image/memory_image.h"

namespace qmx::app {

class EditHistory;

inline constexpr int kPerRow = 16;
inline constexpr int kTextColumn = kPerRow + 1;
inline bool IsDataColumn(int column) { return column >= 1 && column <= kPerRow; }

// Texts are made only for the cells the view asks for. While the operator types into a cell, the typed text
// stands in for the element until it is committed.
class HexGridModel : public QAbstractTableModel {
 public:
  // True for a data cell whose byte or word differs from the part as compared.
  static constexpr int kDiffersRole = Qt::UserRole + 1;

  explicit HexGridModel(EditHistory* history, QObject* parent) : QAbstractTableModel(parent), history_(history) {}

  void SetSource(MemoryImage* image, int size, int view);
  // The part's bytes from address 0 on, as the last Compare read them; empty: nothing to mark.
  void SetPart(std::vector<std::uint8_t> part);
  const std::vector<std::uint8_t>& Part() const { return part_; }
  int DifferingElements() const;
  bool Differs(int element) const;

  int View() const { return view_; }
  int Size() const { return size_; }
  int ElementCount() const { return view_ == 0 ? size_ : size_ / 2; }
  int Digits() const { return view_ == 0 ? 2 : 4; }
  int BytesPerElement() const { return view_ == 0 ? 1 : 2; }
  // The element a cell shows, or -1 for the address and text cells and for cells past the last element.
  int ElementAt(const QModelIndex& index) const;
  QModelIndex IndexOf(int element) const { return index(element / kPerRow, element % kPerRow + 1); }
  // Elements first..last as they lie in address order.
  QItemSelection Range(int first, int last) const;

  // What has been typed into the element; a cell just entered has nothing, so the first digit replaces its text.
  QString Typed(int element) const { return element == pending_ ? pendingText_ : QString(); }
  void SetPending(int element, const QString& text);
  void SetEditable(std::function<bool()> editable) { editable_ = std::move(editable); }
  bool Editable() const { return image_ && (!editable_ || editable_()); }
  // An emptied cell, or one that does not parse, leaves the element as it was; so does a read-only grid.
  void Commit();
  // Writes bytes through the history, so the change can be undone, and redraws what changed.
  void Change(int offset, const std::vector<std::uint8_t>& bytes);
  // Redraws the rows that hold these bytes after the image changed under the grid.
  void Refresh(int offset, int count);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  int Value(const std::uint8_t* bytes, int element) const;
  QString ValueText(const std::uint8_t* bytes, int element) const;
  void Store(int element, unsigned value);
  void Changed(int element);
  QString AddressText(int row) const;
  QString DumpText(int row) const;

  EditHistory* history_;
  MemoryImage* image_ = nullptr;
  int size_ = 0;
  int view_ = 2;
  int pending_ = -1;  // the element being typed into
  QString pendingText_;
  std::function<bool()> editable_;
  std::vector<std::uint8_t> part_;
};

// The grid takes the typing itself rather than through a cell editor, so the window's shortcuts (Ctrl+X, Ctrl+Z)
// keep working while a cell is being typed into. A selection runs from element to element in address order,
// as the bytes lie, not as a rectangle.
class HexGridView : public QTableView {
 public:
  HexGridView(HexGridModel* model, QWidget* parent);

  // The selected elements' first and last, or {-1, -1}.
  std::pair<int, int> SelectedElements() const;
  // Makes `first` the current cell, selects up to `last` and brings it into sight.
  void SelectElements(int first, int last);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void focusOutEvent(QFocusEvent* event) override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;

 private:
  int ElementNear(QPoint point) const;

  HexGridModel* model_;
};

}  // namespace qmx::app
