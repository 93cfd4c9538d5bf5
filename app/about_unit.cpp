#include "app/about_unit.h"

#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QSvgRenderer>
#include <QWindow>

namespace qmx::app {

namespace {

constexpr QSize kClientSize{382, 154};
constexpr QSize kLogoSize{45, 41};
constexpr QSize kTitleSize{150, 17};

// Renders at physical resolution and keeps the drawing's proportions inside the box; QSvgRenderer
// on its own would stretch the title to the box.
QPixmap RenderSvg(const QString& path, QSize box, qreal ratio) {
  QPixmap pixmap(box * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(path);
  QSizeF drawn = renderer.viewBoxF().size().scaled(QSizeF(box), Qt::KeepAspectRatio);
  QPointF origin((box.width() - drawn.width()) / 2, (box.height() - drawn.height()) / 2);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(origin, drawn));
  return pixmap;
}

QLabel* MakeVersionPanel(QWidget* parent, const char* name, QRect geometry) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(QLatin1String(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignCenter);
  panel->setGeometry(geometry);
  return panel;
}

QLabel* MakeCaption(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

TAboutUnit::TAboutUnit(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutUnit"));
  setWindowTitle(tr("Qmx71aAppのバージョン情報"));
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientSize);

  // Tahoma has no Japanese; without the next families Linux would fall back to whatever fontconfig picks.
  QFont face;
  face.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans"),
                    QStringLiteral("sans-serif")});
  face.setPointSize(8);
  setFont(face);

  logo_ = new QLabel(this);
  logo_->setObjectName(QStringLiteral("Image1"));
  logo_->setGeometry(QRect(QPoint(8, 14), kLogoSize));
  logo_->setAutoFillBackground(false);  // the emblem's corners show the dialog through

  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("Image2"));
  title_->setGeometry(QRect(QPoint(64, 26), kTitleSize));

  // The longer caption is 14 full-width characters, about 153 pixels at 8 pt; 158 leaves room for wider fonts.
  appCaption_ = MakeCaption(this, "Label1", tr("アプリケーションのバージョン"),
                            QRect(8, 78, 158, 21));
  appVersion_ = MakeVersionPanel(this, "pnlAppVersion", QRect(168, 78, 101, 21));
  firmwareCaption_ = MakeCaption(this, "Label2", tr("ファームウェアのバージョン"),
                                 QRect(8, 110, 158, 21));
  firmwareVersion_ = MakeVersionPanel(this, "pnlFrmVersion", QRect(168, 110, 101, 21));

  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("OkBtn"));
  okButton_->setGeometry(277, 82, 97, 45);
  okButton_->setDefault(true);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

  RenderPictures();
}

void TAboutUnit::SetAppVersion(const QString& version) { appVersion_->setText(version); }

void TAboutUnit::SetFirmwareVersion(const QString& version) { firmwareVersion_->setText(version); }

QString TAboutUnit::AppVersion() const { return appVersion_->text(); }

QString TAboutUnit::FirmwareVersion() const { return firmwareVersion_->text(); }

void TAboutUnit::showEvent(QShowEvent* event) {
  // The window handle exists only now, and the box may open on a different screen from last time.
  if (QWindow* window = windowHandle()) {
    connect(window, &QWindow::screenChanged, this, &TAboutUnit::RenderPictures, Qt::UniqueConnection);
  }
  RenderPictures();
  QDialog::showEvent(event);
}

void TAboutUnit::RenderPictures() {
  const qreal ratio = devicePixelRatioF();
  logo_->setPixmap(RenderSvg(QStringLiteral(":/icons/about-logo.svg"), kLogoSize, ratio));
  title_->setPixmap(RenderSvg(QStringLiteral(":/icons/about-title.svg"), kTitleSize, ratio));
}

}  // namespace qmx::app
