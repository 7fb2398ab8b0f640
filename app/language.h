// The language of the program's texts: English where the system's language is English, Russian
// (the language the texts are written in) everywhere else; Qt's own texts follow.
#ifndef LANGUAGE_H
#define LANGUAGE_H

#include <QLocale>

class QCoreApplication;

class Language
{
public:
    // Installs the translators for the system's language; call once, after the application
    // object is made and before any text is shown. Returns the language chosen.
    static QLocale::Language install(QCoreApplication *app);
    // The same for a language of the caller's choosing (tests, a second language later).
    static QLocale::Language install(QCoreApplication *app, QLocale::Language wanted);
    // Takes the translators out again: the texts are as written.
    static void uninstall(QCoreApplication *app);
};

#endif // LANGUAGE_H
