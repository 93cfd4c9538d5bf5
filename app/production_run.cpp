// The window's production steps: the production panel in the window, and the
// start on insertion.
#include <QAction>

#include "app/height_guard.h"
#include "app/main_unit.h"
#include "app/production_panel.h"
#include "core/protocol/commands.h"

namespace qmx::app {

QWidget* TMainUnit::BuildProductionPanel() {
  production_ = new ProductionPanel;
  production_->installEventFilter(new MinimumHeightGuard(this));
  return production_;
}

// Polled once a second while idle. A part that sits in the socket when the
// option is turned on, or after its run, is not programmed again: the socket
// must be seen empty first, so each inserted part runs once.
void TMainUnit::PollSocketForAutoStart() {
  if (!production_->AutoStart() || !link_.IsOpen() || deviceFamily_ < 0) {
    socketEmptySeen_ = false;
    return;
  }
  SendSetMode(deviceFamily_);
  if (!link_.Query(CHK_DEVICE, RESP_DEVICE)) return;  // no answer: no change
  const bool present = link_.Response().data[0] != 0;
  if (!present) {
    socketEmptySeen_ = true;
    return;
  }
  if (!socketEmptySeen_) return;
  socketEmptySeen_ = false;
  ProgBtnClick();
}

}  // namespace qmx::app
