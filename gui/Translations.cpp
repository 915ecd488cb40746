#include "gui/Translations.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace {

bool IsGerman(const QString& language)
{
    return language.startsWith("de", Qt::CaseInsensitive);
}

// English and the C locale are the source texts.
bool IsSource(const QString& language)
{
    return language.startsWith("en", Qt::CaseInsensitive) || language == "C" || language == "POSIX";
}

bool Install(QCoreApplication& application, const QString& qmFile)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(qmFile) || !QCoreApplication::installTranslator(translator.get()))
        return false;
    translator.release()->setParent(&application);
    return true;
}

} // namespace

QString WindowLanguage(const QString& forced, const QStringList& uiLanguages)
{
    if (!forced.isEmpty())
        return IsGerman(forced) ? QStringLiteral("de") : QString();
    for (const QString& language : uiLanguages) {
        if (IsGerman(language))
            return QStringLiteral("de");
        if (IsSource(language))
            return {};
    }
    return {};
}

QString InstallTranslations(QCoreApplication& application)
{
    return InstallTranslations(
        application, WindowLanguage(qEnvironmentVariable("TOVRIN_LANG"), QLocale::system().uiLanguages()));
}

QString InstallTranslations(QCoreApplication& application, const QString& language)
{
    if (language.isEmpty())
        return {};
    // Qt's own texts first: the program's are looked up before them (the last installed wins).
    Install(application, ":/i18n/qtbase_" + language + ".qm");
    return Install(application, ":/i18n/tovrin_" + language + ".qm") ? language : QString();
}
