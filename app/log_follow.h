// The log pane keeps its last line in view while new lines come, unless the
// operator has scrolled up to read.
#pragma once

class QPlainTextEdit;

namespace qmx::app {

// The pane's own following stops for good once the pane shrinks under its
// last line (an extended panel appearing); this follows across such changes.
void FollowLogEnd(QPlainTextEdit* log);

}  // namespace qmx::app
