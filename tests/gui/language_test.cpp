// The window's language: the choice from the system and --lang, the English
// window with no Japanese text left, and every Japanese text of the program
// and the core translated.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaProperty>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <thread>

#include "app/about_unit.h"
#include "app/main_unit.h"
#include "app/translations.h"
#include "image/intel_hex.h"
#include "tests/gui/gui_fixture.h"

using qmx::app::Language;
using qmx::app::TMainUnit;

namespace {

// Hiragana, Katakana, CJK ideographs and punctuation, full- and half-width forms.
bool HasJapanese(const QString& text) {
  static const QRegularExpression japanese(
      QStringLiteral("[\\x{3000}-\\x{30FF}\\x{3400}-\\x{4DBF}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
  return text.contains(japanese);
}

// A language for one test: the others compare the Japanese texts.
class LanguageScope {
 public:
  explicit LanguageScope(Language language) : translator_(qmx::app::InstallLanguage(language)) {}
  LanguageScope(const LanguageScope&) = delete;
  LanguageScope& operator=(const LanguageScope&) = delete;
  ~LanguageScope() {
    if (!translator_) return;
    QCoreApplication::removeTranslator(translator_);
    delete translator_;
  }
  bool Installed() const { return translator_ != nullptr; }

 private:
  QTranslator* translator_;
};

// Every text `root` and what it holds show: string properties (texts, titles,
// tool tips, the log), list entries and column headers. Markup is left out:
// it names the log's font, whose family name is Japanese.
QStringList ShownTexts(QObject* root) {
  static const QByteArrayList notShown = {"objectName", "html", "styleSheet"};
  QStringList texts;
  QList<QObject*> objects = root->findChildren<QObject*>();
  objects.prepend(root);
  for (QObject* o : objects) {
    const QMetaObject* meta = o->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
      const QMetaProperty p = meta->property(i);
      if (p.metaType().id() == QMetaType::QString && !notShown.contains(p.name()))
        texts << p.read(o).toString();
    }
    if (auto* box = qobject_cast<QComboBox*>(o))
      for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    if (auto* view = qobject_cast<QAbstractItemView*>(o); view && view->model())
      for (int c = 0; c < view->model()->columnCount(); ++c)
        texts << view->model()->headerData(c, Qt::Horizontal).toString();
  }
  texts.removeAll(QString());
  return texts;
}

// The string literals of the C++ files under `folder` that hold Japanese, by
// file; comments are skipped.
std::map<QString, QStringList> JapaneseLiterals(const QString& folder) {
  std::map<QString, QStringList> found;
  QDirIterator files(folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
  while (files.hasNext()) {
    const QString path = files.next();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QString code = QString::fromUtf8(file.readAll());
    for (qsizetype i = 0; i < code.size(); ++i) {
      if (code.mid(i, 2) == "//") {
        i = code.indexOf('\n', i);
        if (i < 0) break;
      } else if (code.mid(i, 2) == "/*") {
        i = code.indexOf("*/", i + 2);
        if (i < 0) break;
        ++i;
      } else if (code[i] == '"' || code[i] == '\'') {
        const QChar quote = code[i];
        QString literal;
        for (++i; i < code.size() && code[i] != quote && code[i] != '\n'; ++i) {
          if (code[i] == '\\') literal += code[i++];
          literal += code[i];
        }
        if (quote == '"' && HasJapanese(literal)) found[path] << literal;
      }
    }
  }
  return found;
}

// The translation file's entries: source text -> context -> translation, or
// an empty translation for one not finished.
std::map<QString, std::map<QString, QString>> TsEntries(const QString& path) {
  std::map<QString, std::map<QString, QString>> entries;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return entries;
  QXmlStreamReader xml(&file);
  QString context, source;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == u"name") {
      context = xml.readElementText();
    } else if (xml.name() == u"source") {
      source = xml.readElementText();
    } else if (xml.name() == u"translation") {
      const bool finished = xml.attributes().value("type").isEmpty();
      const QString text = xml.readElementText();
      entries[source][context] = finished ? text : QString();
    }
  }
  return entries;
}

}  // namespace

class LanguageTest : public GuiFixture {
  Q_OBJECT

 private slots:
  void init() { SetUpFixture(); }
  void cleanup() { TearDownFixture(); }

  void languageFollowsTheSystemUnlessAsked_data() {
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QLocale>("system");
    QTest::addColumn<int>("chosen");  // 0 Japanese, 1 English, -1 refused
    const QLocale japan(QLocale::Japanese, QLocale::Japan), us(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("Japanese system") << "" << japan << 0;
    QTest::newRow("English system") << "" << us << 1;
    QTest::newRow("German system") << "" << QLocale(QLocale::German, QLocale::Germany) << 1;
    QTest::newRow("en on a Japanese system") << "en" << japan << 1;
    QTest::newRow("JA on an English system") << "JA" << us << 0;
    QTest::newRow("neither") << "fr" << japan << -1;
    QTest::newRow("a locale name") << "en_US" << us << -1;
  }
  void languageFollowsTheSystemUnlessAsked() {
    QFETCH(QString, requested);
    QFETCH(QLocale, system);
    QFETCH(int, chosen);
    const auto language = qmx::app::ChooseLanguage(requested, system);
    QCOMPARE(language ? int(*language == Language::kEnglish) : -1, chosen);
  }

  void englishWindowHasNoJapaneseLeft() {
    {
      const LanguageScope english(Language::kEnglish);
      QVERIFY(english.Installed());  // built into the program
      StartSim("QMX-71A");
      QVERIFY(sim_->InsertPart("24C02"));
      auto w = Window();
      QVERIFY(WaitConnected(*w));
      auto* type = w->findChild<QComboBox*>("cbType");
      type->setCurrentIndex(1);
      w->cbTypeChange();
      QCOMPARE(w->findChild<QComboBox*>("cbDevice")->currentText(), QString("24C02"));

      // A compare that fails: core's report and its line of values, in English.
      const std::size_t size = sim_->PartContents().size();
      std::vector<std::uint8_t> data(size), part(size);
      for (std::size_t i = 0; i < size; ++i) data[i] = part[i] = static_cast<std::uint8_t>(i * 7 + 3);
      const std::size_t first = size / 3;
      part[first] ^= 0xA5;
      part[size - 1] ^= 0x01;
      QVERIFY(sim_->SetPartContents(part));
      const QString file = dir_->filePath("data.hex");
      WriteFile(file, QByteArray::fromStdString(qmx::FormatIntelHex(data.data(), static_cast<int>(size))));
      QVERIFY(w->LoadDataFile(file));
      w->CompareBtnClick();
      QVERIFY(WaitOperation(*w));
      auto hex = [](unsigned value, int digits) {
        return QString::number(value, 16).rightJustified(digits, '0').toUpper();
      };
      // The count, the address, the part's byte and the buffer's, in this order (a whole-line match).
      const QRegularExpression values(QStringLiteral(".*\\b2\\b.*\\b%1\\b.*\\b%2\\b.*\\b%3\\b.*")
                                          .arg(hex(unsigned(first), 4), hex(part[first], 2), hex(data[first], 2)));
      QVERIFY2(w->LogLines().indexOf(values) >= 0, qPrintable(w->LogLines().mid(w->LogLines().size() - 3).join("\n")));

      // The Microwire family with the extended panels; the file is too big for its part.
      w->findChild<QAction*>("mnExtPanel")->trigger();
      type->setCurrentIndex(0);
      w->cbTypeChange();
      QVERIFY(w->findChild<QWidget*>("McwExtPanel")->isVisible());
      w->mnClearBufferClick();

      // The hex editor and the about box are the window's children.
      const QStringList texts = ShownTexts(w.get());
      QVERIFY(!texts.isEmpty());
      for (const QString& text : texts)
        for (const QString& line : text.split('\n')) QVERIFY2(!HasJapanese(line), qPrintable(line));
    }
    // The same look at a window built without the translation finds its Japanese.
    TMainUnit japanese(qmx::app::AppOptions{});
    QVERIFY(HasJapanese(ShownTexts(&japanese).join('\n')));
  }

  void everyJapaneseTextHasAnEnglishTranslation() {
    const LanguageScope english(Language::kEnglish);
    QVERIFY(english.Installed());
    const QDir root(QStringLiteral(QMX_SOURCE_DIR));
    const auto entries = TsEntries(root.filePath("app/translations/qmx71a_en.ts"));
    QVERIFY(!entries.empty());
    for (const auto& [source, byContext] : entries) {
      for (const auto& [context, text] : byContext) {
        const QString where = context + ": " + source;
        QVERIFY2(!text.isEmpty() && !HasJapanese(text), qPrintable("unfinished: " + where));
        // As the program has it, from the translation built into it.
        const QString shown = QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData());
        QVERIFY2(!HasJapanese(shown), qPrintable("not built in: " + where));
      }
    }
    // Every Japanese literal the program has is in the translation; core's
    // also reach the window translated.
    const QStringList notTexts = {QString::fromUtf8("ＭＳ ゴシック")};  // a font's family name
    int literals = 0;
    for (const QString& folder : {QStringLiteral("app"), QStringLiteral("core")}) {
      for (const auto& [file, found] : JapaneseLiterals(root.filePath(folder))) {
        for (const QString& literal : found) {
          if (notTexts.contains(literal)) continue;
          ++literals;
          const QString where = root.relativeFilePath(file) + ": " + literal;
          QVERIFY2(entries.count(literal) == 1, qPrintable("not in the translation: " + where));
          if (folder == "core")
            QVERIFY2(!HasJapanese(qmx::app::CoreText(literal.toStdString())), qPrintable("not translated: " + where));
        }
      }
    }
    QVERIFY(literals > 0);
  }
};

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
