#include "app/log_follow.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <memory>

namespace qmx::app {

void FollowLogEnd(QPlainTextEdit* log) {
  QScrollBar* bar = log->verticalScrollBar();
  // Whether the view stood at the end when it last moved: new lines and a
  // smaller pane grow the range without moving it, so they keep the intent.
  auto following = std::make_shared<bool>(true);
  QObject::connect(bar, &QScrollBar::valueChanged, log,
                   [bar, following](int value) { *following = value >= bar->maximum(); });
  QObject::connect(bar, &QScrollBar::rangeChanged, log, [bar, following](int, int maximum) {
    if (*following) bar->setValue(maximum);
  });
}

}  // namespace qmx::app
