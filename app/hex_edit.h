// The hex editor: shows the memory image as bytes or as 16-bit words in either
// byte order, and writes what the operator types straight into the image.
#pragma once

#include <QDialog>
#include <functional>

#include "image/memory_image.h"

class QAction;
class QComboBox;
class QLabel;
class QMenuBar;
class QStatusBar;

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

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QMenuBar* Menu = nullptr;
  QAction* mnExit = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* cbDataMode = nullptr;
  HexGridView* DGrid = nullptr;
  HexGridModel* model_ = nullptr;
  QStatusBar* StatusBar = nullptr;
  MemoryImage* image_ = nullptr;
  int size_ = 0;
  int view_ = 2;
};

}  // namespace qmx::app
