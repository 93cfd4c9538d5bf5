#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>
#include <algorithm>
#include <vector>

namespace qmx::app {

namespace {

// Every text core/ hands to the window, as core writes it: lupdate takes them
// from here. One added to core/ belongs here too.
constexpr const char* kCoreContext = "qmx::core";
constexpr const char* kCoreTexts[] = {
    QT_TRANSLATE_NOOP("qmx::core", "マイクロワイヤデバイス"),
    QT_TRANSLATE_NOOP("qmx::core", "I2Cデバイス"),
    QT_TRANSLATE_NOOP("qmx::core", "SPIデバイス"),
    QT_TRANSLATE_NOOP("qmx::core", "中止しました。"),
    QT_TRANSLATE_NOOP("qmx::core", "エラーが発生しました。"),
    QT_TRANSLATE_NOOP("qmx::core", "デバイス消去が完了しました。"),
    QT_TRANSLATE_NOOP("qmx::core", "書き込みが完了しました。"),
    QT_TRANSLATE_NOOP("qmx::core", "プログラマが応答しません。"),
    QT_TRANSLATE_NOOP("qmx::core", "デバイスが挿入されていません。"),
    QT_TRANSLATE_NOOP("qmx::core", "このデバイスは、メモリサイズが識別できません。。"),
    QT_TRANSLATE_NOOP("qmx::core", "デバイスのメモリサイズが異なります。"),
    QT_TRANSLATE_NOOP("qmx::core", "デバイスのメモリサイズが異なります。このまま続行しますか？"),
    QT_TRANSLATE_NOOP("qmx::core", "メモリサイズエラー"),
    QT_TRANSLATE_NOOP("qmx::core", "読出しデータ:"),
    QT_TRANSLATE_NOOP("qmx::core", "データはバッファと同一です。"),
    QT_TRANSLATE_NOOP("qmx::core", "デバイスはブランクです。"),
    QT_TRANSLATE_NOOP("qmx::core", "メモリ読出しでエラーが発生しました。"),
    QT_TRANSLATE_NOOP("qmx::core", "データ比較でエラーが発生しました。"),
    QT_TRANSLATE_NOOP("qmx::core", "デバイスはブランクではありません。"),
    QT_TRANSLATE_NOOP("qmx::core", "チェックサムの取得でエラーが発生しました。"),
    QT_TRANSLATE_NOOP("qmx::core", "相違 %d バイト: 最初はアドレス %04X (デバイス %02X, バッファ %02X)"),
};

const QRegularExpression& Conversion() {
  static const QRegularExpression conversion(QStringLiteral(R"(%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z|j|t)?[diouxXcs])"));
  return conversion;
}

// A printf format of core's and a pattern that matches the lines made from it
// and captures the values.
struct LineFormat {
  const char* source;
  QRegularExpression lines;
};

const std::vector<LineFormat>& LineFormats() {
  static const std::vector<LineFormat> formats = [] {
    std::vector<LineFormat> out;
    for (const char* source : kCoreTexts) {
      const QString text = QString::fromUtf8(source);
      if (!text.contains(Conversion())) continue;
      QString pattern = QStringLiteral("^");
      qsizetype at = 0;
      for (auto it = Conversion().globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        pattern += QRegularExpression::escape(text.mid(at, m.capturedStart() - at)) + QStringLiteral("(.+?)");
        at = m.capturedEnd();
      }
      pattern += QRegularExpression::escape(text.mid(at)) + QStringLiteral("$");
      out.push_back({source, QRegularExpression(pattern)});
    }
    return out;
  }();
  return formats;
}

}  // namespace

std::optional<Language> ChooseLanguage(const QString& requested, const QLocale& system) {
  if (requested.isEmpty()) return system.language() == QLocale::Japanese ? Language::kJapanese : Language::kEnglish;
  if (requested.compare(QLatin1String("ja"), Qt::CaseInsensitive) == 0) return Language::kJapanese;
  if (requested.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0) return Language::kEnglish;
  return std::nullopt;
}

QTranslator* InstallLanguage(Language language) {
  auto* translator = new QTranslator(QCoreApplication::instance());
  const bool loaded = language == Language::kEnglish
                          ? translator->load(QStringLiteral(":/i18n/qmx71a_en.qm"))
                          : translator->load(QStringLiteral("qtbase_ja"),
                                             QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (!loaded || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

bool InstallQtTranslations() { return InstallLanguage(Language::kJapanese) != nullptr; }

QString CoreText(const std::string& utf8) {
  // core's texts are all Japanese: hex dumps and checksums pass untouched.
  const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; });
  if (ascii) return QString::fromStdString(utf8);
  const QString line = QString::fromStdString(utf8);
  const QString whole = QCoreApplication::translate(kCoreContext, utf8.c_str());
  if (whole != line) return whole;
  for (const LineFormat& format : LineFormats()) {
    const QRegularExpressionMatch values = format.lines.match(line);
    if (!values.hasMatch()) continue;
    QString translated = QCoreApplication::translate(kCoreContext, format.source);
    if (translated == QString::fromUtf8(format.source)) return line;
    // The translation's conversions, in order, take the values as core wrote them.
    QString out;
    qsizetype at = 0;
    int value = 1;
    for (auto it = Conversion().globalMatch(translated); it.hasNext();) {
      const QRegularExpressionMatch m = it.next();
      out += translated.mid(at, m.capturedStart() - at);
      out += value <= values.lastCapturedIndex() ? values.captured(value) : m.captured();
      ++value;
      at = m.capturedEnd();
    }
    return out + translated.mid(at);
  }
  return line;
}

}  // namespace qmx::app
