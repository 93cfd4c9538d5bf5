// The hex editor: shows the memory image as bytes or as 16-bit words in either
// byte order, and writes what the operator types straight into the image.
// Finds bytes or text, goes to an address, fills a range, undoes and redoes
// its changes, and marks where the part as last compared differs.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/edit_history.h"
#include "image/memory_image.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenuBar;
class QStatusBar;
class QVBoxLayout;

namespace qmx::app {

class HexGridModel;
class HexGridView;

class THexEdit : public QDialog {
  Q_OBJECT

 public:
  explicit THexEdit(QWidget* parent = nullptr);
  ~THexEdit() override;

  // Before every showing: the image (not owned), the part size in bytes and the view
  // (0 bytes, 1 little-endian words, 2 big-endian words).
  void Open(MemoryImage* image, int size, int view);
  // Rebuilds the grid for a view; values outside 0..2 are ignored.
  void SetDataMode(int view);
  int DataMode() const;
  // Asked before every change to the image: false leaves the grid read-only
  // (another thread owns the image meanwhile). Unset means always editable.
  void SetEditable(std::function<bool()> editable);
  // Asked at every Open: the part's bytes from address 0 on as the last Compare read them (a prefix when it
  // ended early), or nothing. Cells where they differ from the image are drawn in another colour.
  void SetPartSource(std::function<std::vector<std::uint8_t>()> source);
  // The cell holding the address becomes the current one; false when it lies past the part.
  bool GoToAddress(int address);
  // Sets every byte of the selected cells to `value`; false when nothing is selected or the grid is read-only.
  bool FillSelection(int value);

 public slots:
  // The search panel's pattern from the cursor on; false when it is not found.
  bool FindNext();
  bool FindPrevious();
  void Undo();
  void Redo();
  // The next cell marked as differing after the cursor, round the part once; false when none is.
  bool NextDifference();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildEditMenu(QVBoxLayout* column);
  void ShowFindPanel();
  bool Find(bool forward);
  void AskGoTo();
  void AskFill();
  // Selects and shows the changed cells, or says there was nothing to change.
  void ShowChange(EditHistory::Range range, const QString& none);
  void ShowDifferences();
  int BytesPerElement() const { return view_ == 0 ? 1 : 2; }

  QMenuBar* Menu = nullptr;
  QAction* mnExit = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* cbDataMode = nullptr;
  HexGridView* DGrid = nullptr;
  HexGridModel* model_ = nullptr;
  QStatusBar* StatusBar = nullptr;
  QAction* mnFind = nullptr;
  QAction* mnFindNext = nullptr;
  QAction* mnFindPrev = nullptr;
  QAction* mnGoTo = nullptr;
  QAction* mnFill = nullptr;
  QAction* mnUndo = nullptr;
  QAction* mnRedo = nullptr;
  QAction* mnNextDiff = nullptr;
  QFrame* FindPanel = nullptr;
  QComboBox* cbFindMode = nullptr;
  QLineEdit* edFind = nullptr;
  MemoryImage* image_ = nullptr;
  int size_ = 0;
  int view_ = 2;
  EditHistory history_;
  std::function<std::vector<std::uint8_t>()> partSource_;
  int lastFound_ = -1;  // the address of the last match, passed over by the next search from it
};

}  // namespace qmx::app
