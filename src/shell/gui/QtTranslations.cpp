#include "shell/gui/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace hopwell {
namespace {

// Qt 6 asks for the standard buttons' texts in the "QPlatformTheme" context; older
// catalogues (Debian's Swedish one among them) still file them under "QDialogButtonBox".
class ButtonTextTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  QString translate(const char* context, const char* source, const char* disambiguation,
                    int n) const override {
    QString text = QTranslator::translate(context, source, disambiguation, n);
    if (text.isEmpty() && qstrcmp(context, "QPlatformTheme") == 0) {
      text = QTranslator::translate("QDialogButtonBox", source, disambiguation, n);
    }
    return text;
  }
};

}  // namespace

QTranslator* LoadQtTranslations(QCoreApplication& app, StringLocale locale) {
  if (locale == StringLocale::English) return nullptr;
  const QLocale language(QLocale::Swedish, QLocale::Sweden);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  auto* translator = new ButtonTextTranslator(&app);
  // Debian ships the Swedish catalogue as the older all-in-one "qt" file.
  for (const char* catalogue : {"qtbase", "qt"}) {
    if (translator->load(language, QString::fromLatin1(catalogue), QStringLiteral("_"), folder)) {
      QCoreApplication::installTranslator(translator);
      return translator;
    }
  }
  delete translator;
  return nullptr;
}

}  // namespace hopwell
