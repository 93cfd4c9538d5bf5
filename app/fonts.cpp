#include "app/fonts.h"

#include <QStringList>

namespace qmx::app {

QFont UiFont() {
  QFont font;
  font.setFamilies({"Tahoma", "Noto Sans CJK JP", "Noto Sans", "sans-serif"});
  font.setPointSize(8);
  return font;
}

QFont LogFont() {
  QFont font;
  font.setFamilies({QString::fromUtf8("ＭＳ ゴシック"), "MS Gothic", "Noto Sans Mono CJK JP", "monospace"});
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(12);
  return font;
}

}  // namespace qmx::app
