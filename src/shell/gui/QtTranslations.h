#pragma once

#include "resources/StringTable.h"

class QCoreApplication;
class QTranslator;

namespace hopwell {

// Loads Qt's own translations (standard buttons and dialogs) for `locale`, so that the texts
// of our string table and the buttons Qt draws speak the same language. The translator
// belongs to `app`; null when Qt has no translation for it (English needs none).
QTranslator* LoadQtTranslations(QCoreApplication& app, StringLocale locale);

}  // namespace hopwell
