// Parvex: installs the com0com null-modem driver.
//
//     Parvex SOURCE_FOLDER DESTINATION_FOLDER
//
// Copies devcon.exe and the driver files (com0com.inf, .sys, .cat) from SOURCE_FOLDER into
// DESTINATION_FOLDER (made if missing, one level only; files already there are kept), then runs
// DESTINATION_FOLDER/devcon.exe install DESTINATION_FOLDER/com0com.inf DESTINATION_FOLDER/com0com.sys
// and waits at most 30 s for it. Everything it says goes to the Qt debug log (stderr).
//
// Exit code: 1 for a wrong argument count (and nothing printed); devcon's own exit code when it
// ran to its end; 2 when devcon could not be started, crashed or did not finish within 30 s (it is
// killed then).
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QProcess>
#include <QString>
#include <QStringList>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // arguments() decodes the command line as the platform gives it: UTF-8 here, the wide
    // command line on Windows, where argv holds the ANSI code page.
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 1;

    const QString sPath = args.at(1);
    const QString dPath = args.at(2);
    QDir curDir = QDir::current();

    qDebug() << sPath << dPath;

    if (curDir.exists(dPath)) {
        qDebug() << "Destination path" << dPath;
    } else {
        curDir.mkdir(dPath);
        qDebug() << "Create destination directory" << dPath;
    }

    if (curDir.exists(sPath)) {
        qDebug() << "Source path" << sPath;
        static const struct
        {
            const char *name;
            const char *copying;
            const char *missing;
        } files[] = {
            {"devcon.exe", "Copyring devcon...", "File devcon.exe not found!"},
            {"com0com.inf", "Copyring inf files...", "File com0com.inf not found!"},
            {"com0com.sys", "Copyring sys files...", "File com0com.sys not found!"},
            {"com0com.cat", "Copyring cat files...", "File com0com.cat not found!"},
        };
        for (const auto &f : files) {
            const QString name = QString::fromLatin1(f.name);
            const QString from = sPath + "/" + name;
            if (QFile::exists(from)) {
                qDebug() << f.copying;
                QFile::copy(from, dPath + "/" + name);
            } else {
                qDebug() << f.missing;
            }
        }
    }

    QProcess *process_sys = new QProcess(&app);
    const QString program = dPath + "/devcon.exe";
    QStringList argSys;
    argSys << "install" << dPath + "/com0com.inf" << dPath + "/com0com.sys";
    process_sys->start(program, argSys, QIODevice::ReadWrite);

    int result = 2;
    if (process_sys->waitForFinished(30000)) {
        if (process_sys->exitStatus() == QProcess::NormalExit)
            result = process_sys->exitCode();
    } else if (process_sys->state() != QProcess::NotRunning) {
        // Still running after 30 s: stop it, and reap it before going on.
        process_sys->kill();
        process_sys->waitForFinished(-1);
    }

    const QString text = QString::fromLatin1(process_sys->readAllStandardOutput());
    qDebug() << text;
    delete process_sys;

    return result;
}
