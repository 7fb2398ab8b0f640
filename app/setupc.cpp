#include "setupc.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <memory>

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

QProcess *Setupc::prepare(QObject *parent, const QStringList &args)
{
    auto *process = new QProcess(parent);
    process->setProgram(programPath());
    process->setArguments(args);
    // Never read, but a pipe would still be gathered in memory for as long as the tool writes.
    process->setStandardErrorFile(QProcess::nullDevice());
    return process;
}

bool Setupc::gather(QProcess *process, QByteArray *output)
{
    // One byte past the limit tells a tool that had more to say from one that stopped there.
    const qint64 room = qint64(OutputLimit) + 1 - output->size();
    if (room > 0)
        output->append(process->read(room));
    if (output->size() <= OutputLimit)
        return false;
    output->truncate(OutputLimit);
    return true;
}

QString Setupc::text(const QByteArray &bytes)
{
    // The output may hold a NUL byte; QString::fromLatin1(QByteArray) would drop all after it.
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

QString Setupc::run(QObject *parent, const QStringList &args, Ending *ending, int timeoutMs)
{
    QProcess *process = prepare(parent, args);
    process->start(QIODevice::ReadWrite);
    // A run that fails, is cut or times out still yields whatever it printed so far; the
    // callers judge the text, not the exit status.
    QByteArray bytes;
    Ending how = Ended;
    const QDeadlineTimer deadline(timeoutMs);
    if (process->waitForStarted(timeoutMs)) {
        for (;;) {
            if (gather(process, &bytes)) {
                how = OutputCut;
                break;
            }
            if (process->state() == QProcess::NotRunning)
                break;
            if (deadline.hasExpired()) {
                how = TimedOut;
                break;
            }
            process->waitForReadyRead(int(deadline.remainingTime()));
        }
    }
    abandon(process);
    if (ending)
        *ending = how;
    return text(bytes);
}

QProcess *Setupc::start(QObject *parent, const QStringList &args,
                        std::function<void(const QString &, Ending)> done, int timeoutMs)
{
    QProcess *process = prepare(parent, args);
    auto bytes = std::make_shared<QByteArray>();
    auto how = std::make_shared<Ending>(Ended);
    auto *limit = new QTimer(process);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, process, [process, how] {
        *how = TimedOut;
        process->kill();
    });
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [process, bytes, how] {
        if (*how == Ended && gather(process, bytes.get())) {
            *how = OutputCut;
            process->kill();
        }
    });
    // Not to a parent already being destroyed: a run still going then ends with it, unheard.
    const QPointer<QObject> owner(parent);
    const auto finish = [process, bytes, how, done, owner, limit] {
        limit->stop();
        if (*how == Ended && gather(process, bytes.get()))
            *how = OutputCut;
        process->disconnect();
        process->deleteLater();
        if (owner)
            done(text(*bytes), *how);
    };
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), process, finish);
    QObject::connect(process, &QProcess::errorOccurred, process, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish();
    });
    limit->start(timeoutMs);
    process->start(QIODevice::ReadWrite);
    return process;
}

void Setupc::abandon(QProcess *process)
{
    if (!process)
        return;
    process->disconnect();
    // Stopped and waited for here: a process deleted while running is only warned about.
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
    delete process;
}

QString Setupc::endingNote(Ending ending)
{
    switch (ending) {
    case OutputCut:
        return tr("Вывод setupc.exe длиннее %1 КиБ: остальное отброшено, setupc.exe остановлен")
            .arg(OutputLimit / 1024);
    case TimedOut:
        return tr("setupc.exe не завершился за %1 с и остановлен").arg(RunTimeoutMs / 1000);
    case Ended:
        break;
    }
    return QString();
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
