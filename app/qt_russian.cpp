#include "app/qt_russian.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#ifdef TK7V_QT_RUSSIAN_EMBEDDED
// The resource lives in a static library: named here, so that the linker keeps it.
static void initTranslations() {
    Q_INIT_RESOURCE(qt_russian);
}
#endif

namespace tk7v {

bool InstallQtRussian(QCoreApplication& app) {
    auto* texts = new QTranslator(&app);
#ifdef TK7V_QT_RUSSIAN_EMBEDDED
    initTranslations();
    if (texts->load(QStringLiteral(":/translations/qtbase_ru.qm")))
        return QCoreApplication::installTranslator(texts);
#endif
    if (texts->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return QCoreApplication::installTranslator(texts);
    delete texts;
    return false;
}

} // namespace tk7v
