#include "language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

QTranslator *g_ours = nullptr;
QTranslator *g_qts = nullptr;

// Qt's texts (the buttons of a message box, a file dialog's) for a language, from the folder
// "translations" beside the program (the Windows edition ships them there) or from Qt's own.
bool loadQts(QTranslator *translator, const QString &language)
{
    const QString name = QStringLiteral("qtbase_") + language;
    return translator->load(name, QCoreApplication::applicationDirPath() + QStringLiteral("/translations"))
           || translator->load(name, QLibraryInfo::location(QLibraryInfo::TranslationsPath));
}

} // namespace

QLocale::Language Language::install(QCoreApplication *app)
{
    return install(app, QLocale::system().language());
}

QLocale::Language Language::install(QCoreApplication *app, QLocale::Language wanted)
{
    // The compiled translations live in the engine library's resources.
    Q_INIT_RESOURCE(translations);
    uninstall(app);
    const QLocale::Language chosen = wanted == QLocale::English ? QLocale::English : QLocale::Russian;
    g_qts = new QTranslator(app);
    if (chosen == QLocale::English) {
        g_ours = new QTranslator(app);
        if (g_ours->load(QStringLiteral(":/translations/vantrelvcom_en.qm")))
            app->installTranslator(g_ours);
        // Qt's texts are English as written.
    } else if (loadQts(g_qts, QStringLiteral("ru"))) {
        app->installTranslator(g_qts);
    }
    return chosen;
}

void Language::uninstall(QCoreApplication *app)
{
    for (QTranslator **translator : {&g_ours, &g_qts}) {
        if (*translator) {
            app->removeTranslator(*translator);
            delete *translator;
            *translator = nullptr;
        }
    }
}
