#include "app/Translations.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

// The compiled translation lives in a static library; its resource is
// registered only when something references it.
static void registerTranslations()
{
    Q_INIT_RESOURCE(tassio_translations);
}

namespace {
// Names of the translators installed here, so a later call can find them.
const char kOwnTranslator[] = "tassio-own-texts";
const char kQtTranslator[] = "tassio-qt-texts";

void removeInstalled(QApplication& app)
{
    for (const char* name : { kOwnTranslator, kQtTranslator }) {
        for (QTranslator* t : app.findChildren<QTranslator*>(QLatin1String(name), Qt::FindDirectChildrenOnly)) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
}

template <class Load>
bool install(QApplication& app, const char* name, Load load)
{
    auto* translator = new QTranslator(&app);
    translator->setObjectName(QLatin1String(name));
    if (!load(*translator) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
} // namespace

bool usesChineseTexts(const QLocale& locale)
{
    return locale.language() == QLocale::Chinese;
}

bool installTranslations(QApplication& app)
{
    return installTranslations(app, QLocale::system());
}

bool installTranslations(QApplication& app, const QLocale& locale)
{
    registerTranslations();
    removeInstalled(app);
    if (usesChineseTexts(locale)) {
        // Qt's own texts (the message box's button, the file dialog) in
        // Chinese too, where the system has them (qt6-translations-l10n).
        install(app, kQtTranslator, [&locale](QTranslator& t) {
            return t.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        });
        return false;
    }
    return install(app, kOwnTranslator, [](QTranslator& t) { return t.load(QStringLiteral(":/i18n/tassio_en.qm")); });
}
