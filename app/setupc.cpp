#include "setupc.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

QString Setupc::folderPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/com0com/");
}

QString Setupc::programPath()
{
    return folderPath() + QLatin1String("setupc.exe");
}

bool Setupc::exists()
{
    return QFileInfo(programPath()).isFile();
}

QString Setupc::run(QObject *parent, const QStringList &args)
{
    auto *process = new QProcess(parent);
    process->setProgram(programPath());
    process->setArguments(args);
    process->start(QIODevice::ReadWrite);
    // A run that fails or times out still yields whatever it printed so far; the callers judge
    // the text, not the exit status.
    process->waitForFinished(30000);
    // The output may hold a NUL byte; QString::fromLatin1(QByteArray) would drop all after it.
    const QByteArray bytes = process->readAllStandardOutput();
    const QString output = QString::fromLatin1(bytes.constData(), bytes.size());
    // Deleting it now, not later, ends a run that hangs instead of leaving it to the parent.
    delete process;
    return output;
}

QStringList Setupc::listArgs()
{
    return {QStringLiteral("list")};
}

QStringList Setupc::installArgs(const QString &a, const QString &b)
{
    return {QStringLiteral("install PortName=%1 PortName=%2").arg(a, b)};
}

QStringList Setupc::removeArgs(int pair)
{
    return {QStringLiteral("remove"), QString::number(pair)};
}

QStringList Setupc::uninstallArgs()
{
    return {QStringLiteral("uninstall")};
}

QStringList Setupc::portNames(const QString &output)
{
    QStringList names;
    if (!output.contains(QLatin1String("COM")))
        return names;
    static const QRegularExpression comName(QStringLiteral("COM\\d+"));
    QRegularExpressionMatchIterator it = comName.globalMatch(output);
    while (it.hasNext())
        names << it.next().captured(0);
    return names;
}

QList<QPair<QString, QString>> Setupc::pairs(const QStringList &names)
{
    QList<QPair<QString, QString>> result;
    for (int i = 0; i + 1 < names.size(); i += 2)
        result.append(qMakePair(names.at(i), names.at(i + 1)));
    return result;
}

bool Setupc::installSucceeded(const QString &output)
{
    return output.contains(QLatin1String("logged as \"in use\""));
}
