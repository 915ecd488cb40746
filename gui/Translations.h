#pragma once
// The language of the windows: German where the desktop's locale (or TOVRIN_LANG) asks for it,
// the program's own texts otherwise. The translations are built into the library as resources.

#include <QString>
#include <QStringList>

class QCoreApplication;

// "de" when the windows speak German, empty for the source texts. A non-empty forced value (from
// TOVRIN_LANG) decides alone; otherwise the first of the desktop's languages that is German or
// English (the source) wins, as gettext takes the first language it has.
QString WindowLanguage(const QString& forced, const QStringList& uiLanguages);

// Installs the program's translations and Qt's own for the language that TOVRIN_LANG or the
// desktop's locale asks for; returns that language ("de" or empty). The translators belong to
// the application object.
QString InstallTranslations(QCoreApplication& application);

// The same for a given language ("de" or empty); empty also when no translation could be loaded.
QString InstallTranslations(QCoreApplication& application, const QString& language);
