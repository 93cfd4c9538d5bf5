// The about box as the main window drives it, and the artwork the box and the buttons draw from.
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTimer>
#include <QtTest>

#include "app/about_unit.h"

namespace {

QImage Render(const QString& path) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  QSvgRenderer(path).render(&painter);
  return image;
}

}  // namespace

class AboutTest : public QObject {
  Q_OBJECT

 private slots:
  void DialogShowsVersionsCentredAndClosesOnOk() {
    // Off the screen's centre, so centring on the screen instead of the owner shows.
    QWidget mainWindow;
    mainWindow.setGeometry(10, 0, 380, 180);
    mainWindow.show();
    qmx::app::TAboutUnit about(&mainWindow);
    QCOMPARE(about.windowTitle(), QStringLiteral("Qmx71aAppのバージョン情報"));
    QCOMPARE(about.minimumSize(), QSize(382, 154));
    QCOMPARE(about.maximumSize(), QSize(382, 154));

    const QStringList names{"Label1", "pnlAppVersion", "Label2", "pnlFrmVersion", "Image1", "Image2", "OkBtn"};
    QList<QRect> taken;
    for (const QString& name : names) {
      auto* child = about.findChild<QWidget*>(name);
      QVERIFY2(child, qPrintable(name));
      QVERIFY2(about.rect().contains(child->geometry()), qPrintable(name));
      for (const QRect& other : taken) QVERIFY2(!other.intersects(child->geometry()), qPrintable(name));
      taken << child->geometry();
      if (auto* label = qobject_cast<QLabel*>(child); label && !label->text().isEmpty()) {
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(), qPrintable(name));
      }
    }
    for (const char* name : {"pnlAppVersion", "pnlFrmVersion"}) {
      auto* panel = about.findChild<QLabel*>(name);
      QCOMPARE(panel->size(), QSize(101, 21));
      QCOMPARE(panel->frameShape(), QFrame::Panel);
      QCOMPARE(panel->frameShadow(), QFrame::Sunken);
    }
    auto* ok = about.findChild<QPushButton*>("OkBtn");
    QCOMPARE(ok->size(), QSize(97, 45));

    about.SetAppVersion("1.0.0");
    about.SetFirmwareVersion("2.07");
    QCOMPARE(about.findChild<QLabel*>("pnlAppVersion")->text(), QStringLiteral("1.0.0"));
    QCOMPARE(about.findChild<QLabel*>("pnlFrmVersion")->text(), QStringLiteral("2.07"));
    QCOMPARE(about.FirmwareVersion(), QStringLiteral("2.07"));

    QRect shownAt;
    QTimer::singleShot(0, &about, [&] { shownAt = about.frameGeometry(); });
    QTimer::singleShot(0, ok, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    QTimer::singleShot(5000, &about, &QDialog::reject);  // so a dead button fails instead of hanging
    QCOMPARE(about.exec(), int(QDialog::Accepted));
    QVERIFY((shownAt.center() - mainWindow.frameGeometry().center()).manhattanLength() <= 2);
    // The test runs scaled by 2, so sharp pictures carry twice the pixels of their boxes.
    QVERIFY(about.devicePixelRatioF() > 1);
    for (const auto& [name, box] : {std::pair{"Image1", QSize(45, 41)}, std::pair{"Image2", QSize(150, 17)}}) {
      QPixmap picture = about.findChild<QLabel*>(name)->pixmap();
      QCOMPARE(picture.deviceIndependentSize().toSize(), box);
      QCOMPARE(picture.size(), box * about.devicePixelRatioF());
    }
  }

  void ArtworkRendersAndDisabledButtonsAreLighterGrey() {
    QStringList files = QDir(":/icons").entryList();
    for (const QString& name : QStringList{"read", "write", "compare", "erase", "blank", "program"}) {
      QVERIFY2(files.removeAll(name + ".svg") == 1 && files.removeAll(name + "-disabled.svg") == 1, qPrintable(name));
      const QImage normal = Render(":/icons/" + name + ".svg");
      const QImage disabled = Render(":/icons/" + name + "-disabled.svg");
      QVERIFY2(normal != disabled, qPrintable(name));
      double normalLight = 0, disabledLight = 0;
      int inked = 0;
      for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
          const QColor grey = disabled.pixelColor(x, y);
          QVERIFY2(grey.alpha() < 16 || grey.hsvSaturation() < 16, qPrintable(name));
          normalLight += normal.pixelColor(x, y).lightnessF() * normal.pixelColor(x, y).alphaF();
          disabledLight += grey.lightnessF() * grey.alphaF();
          inked += normal.pixelColor(x, y).alpha() > 128;
        }
      }
      QVERIFY2(inked > 32 * 32 / 5, qPrintable(name));
      QVERIFY2(disabledLight > normalLight, qPrintable(name));
    }
    QCOMPARE(files, QStringList({"about-logo.svg", "about-title.svg"}));
    for (const QString& name : QDir(":/icons").entryList()) {
      QVERIFY2(QSvgRenderer(":/icons/" + name).isValid(), qPrintable(name));
      QVERIFY2(!QIcon(":/icons/" + name).pixmap(32, 32).isNull(), qPrintable(name));
    }
  }
};

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  AboutTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "about_test.moc"
