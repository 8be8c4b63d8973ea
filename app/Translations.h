// The window's texts in the user's language.
#pragma once

#include <QLocale>
#include <QString>

// Installs the translations for locale: Zamblok's own from folder, Qt's
// (standard buttons and dialogs) from Qt's folder. The English one, which
// only gives counted texts their singular and plural ("1 entry", "2
// entries"), is always installed beneath them, so that a language without a
// translation shows the English texts as written.
void InstallTranslations(const QLocale& locale, const QString& folder);
