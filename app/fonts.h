// The window fonts: the faces the layout was drawn for, then faces that
// render Japanese well on Linux.
#pragma once

#include <QFont>

namespace qmx::app {

QFont UiFont();   // dialogs and controls, 8 pt
QFont LogFont();  // the log and the hex editor: monospaced, 12 pixels high

}  // namespace qmx::app
