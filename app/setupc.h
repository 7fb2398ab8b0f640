// Starting com0com's setupc.exe for the virtual port pairs and reading what it prints.
#ifndef SETUPC_H
#define SETUPC_H

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QObject;

class Setupc
{
public:
    // The folder "com0com" beside the program, with a trailing slash.
    static QString folderPath();
    static QString programPath();
    static bool exists();

    // Runs setupc.exe to its end (at most 30 s) and returns its standard output as Latin-1 text;
    // "" when it could not be started. Its exit status carries nothing we rely on.
    static QString run(QObject *parent, const QStringList &args);

    static QStringList listArgs();
    // The whole request is one argument, blanks included.
    static QStringList installArgs(const QString &a, const QString &b);
    static QStringList removeArgs(int pair);
    static QStringList uninstallArgs();

    // Every "COM<digits>" in the output, in the order printed.
    static QStringList portNames(const QString &output);
    // setupc.exe prints a pair's two names one after the other; a lone last name is dropped.
    static QList<QPair<QString, QString>> pairs(const QStringList &names);
    // setupc.exe reports success only by logging the new ports as in use.
    static bool installSucceeded(const QString &output);
};

#endif // SETUPC_H
