#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

void InstallTranslations(const QLocale& locale, const QString& folder)
{
    // The translator installed last is asked first.
    const auto install = [](const QLocale& language, const QString& name, const QString& from) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(language, name, "_", from))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    };
    install(QLocale(QLocale::English), "zamblok", folder);
    if (locale.language() != QLocale::English && locale.language() != QLocale::C) {
        install(locale, "zamblok", folder);
        install(locale, "qtbase", QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
}
