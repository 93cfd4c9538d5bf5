// Keeps the main window at least as tall as its layout needs with the panels
// now shown: squeezed below that, the extended panels would lie over the
// operation buttons.
#pragma once

#include <QEvent>
#include <QLayout>
#include <QMainWindow>
#include <algorithm>

#include "app/window_metrics.h"

namespace qmx::app {

class MinimumHeightGuard : public QObject {
 public:
  explicit MinimumHeightGuard(QMainWindow* window) : QObject(window), window_(window) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) {
      window_->centralWidget()->layout()->invalidate();
      window_->layout()->invalidate();
      window_->setMinimumHeight(std::max(kMinimumHeight, window_->layout()->totalMinimumSize().height()));
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QMainWindow* window_;
};

}  // namespace qmx::app
