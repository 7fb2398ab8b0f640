// Starting com0com's setupc.exe for the virtual port pairs and reading what it prints.
#ifndef SETUPC_H
#define SETUPC_H

#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class QByteArray;
class QObject;
class QProcess;

class Setupc
{
    Q_DECLARE_TR_FUNCTIONS(Setupc)

public:
    // No real listing comes near it: what a tool prints beyond it is dropped and the tool stopped.
    static constexpr int OutputLimit = 1 << 20;
    // How long a run may take before it is given up and stopped.
    static constexpr int RunTimeoutMs = 30000;

    // How a run ended: by itself (or it could not be started), with its output cut at
    // OutputLimit, or given up after its time. The last two stop the tool.
    enum Ending { Ended, OutputCut, TimedOut };

    // The folder "com0com" beside the program, with a trailing slash.
    static QString folderPath();
    static QString programPath();
    static bool exists();

    // Runs setupc.exe to its end (at most timeoutMs) and returns its standard output, at most
    // OutputLimit bytes, as Latin-1 text; "" when it could not be started. Its exit status
    // carries nothing we rely on.
    static QString run(QObject *parent, const QStringList &args, Ending *ending = nullptr,
                       int timeoutMs = RunTimeoutMs);
    // The same without waiting: done runs once, in parent's thread, when the run is over, with
    // what it printed and how it ended. The process is parent's and goes by itself after done;
    // abandon() ends it sooner, and done is then never called.
    static QProcess *start(QObject *parent, const QStringList &args,
                           std::function<void(const QString &output, Ending ending)> done,
                           int timeoutMs = RunTimeoutMs);
    static void abandon(QProcess *process);
    // The line that tells the user how a run was cut short; "" for a run that ended by itself.
    static QString endingNote(Ending ending);

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

private:
    static QProcess *prepare(QObject *parent, const QStringList &args);
    // Moves what the tool printed into output, never past OutputLimit; true once it printed more.
    static bool gather(QProcess *process, QByteArray *output);
    static QString text(const QByteArray &bytes);
};

#endif // SETUPC_H
