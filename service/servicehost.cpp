#include "servicehost.h"

#include "pipelog.h"
#include "qpipemap.h"
#include "relayrunner.h"
#include "relaystatus.h"
#include "vcomdefs.h"

#include <QJsonArray>

#include <climits>

namespace {

QJsonObject refusal(const QString &why)
{
    return QJsonObject{{QStringLiteral("error"), why}};
}

QJsonObject done(const QString &message)
{
    return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("message"), message}};
}

QJsonArray idArray(const QList<int> &ids)
{
    QJsonArray array;
    for (int id : ids)
        array.append(id);
    return array;
}

} // namespace

ServiceHost::ServiceHost(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_runner(new RelayRunner(this))
    , m_log(new PipeLog(this))
    , m_status(new RelayStatus(m_runner, this))
{
    m_log->follow(m_runner);
    connect(m_log, &PipeLog::line, this, &ServiceHost::line);
}

ServiceHost::~ServiceHost()
{
    stopAll();
    qDeleteAll(m_pipes);
    m_pipes.clear();
}

QString ServiceHost::fileName() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(Vcom::PipesFile);
}

bool ServiceHost::load(QMap<int, QPipeItem *> *records)
{
    // The collection's own rules and lines, for a file it never writes: a change of the
    // connections is made in the file, and comes in by reload.
    QPipeMap map;
    m_log->follow(&map);
    bool read = true;
    connect(&map, &QPipeMap::sendStatus, this, [this, &read](const QString &status) {
        read = status != QLatin1String("Error! Pipe collection load");
        emit line(QStringLiteral("%1: %2").arg(fileName(), status));
    });
    map.loadFromFile(fileName());
    if (!read)
        return false;
    // The collection loads no more than the window shows and runs.
    const QList<QPipeItem *> all = map.getList();
    for (QPipeItem *pipe : all)
        records->insert(pipe->id(), pipe);
    return true;
}

void ServiceHost::startAll()
{
    load(&m_pipes);
    for (QPipeItem *pipe : qAsConst(m_pipes))
        start(pipe);
    emit line(tr("Запущено соединений: %1").arg(m_pipes.size()));
}

void ServiceHost::stopAll()
{
    for (QPipeItem *pipe : qAsConst(m_pipes))
        m_runner->stop(pipe);
}

void ServiceHost::start(QPipeItem *pipe)
{
    m_runner->start(pipe);
}

void ServiceHost::drop(QPipeItem *pipe)
{
    // Back in this thread and closed before it goes: its relay may not run on without it.
    m_runner->stop(pipe);
    delete pipe;
}

QJsonObject ServiceHost::answer(const QJsonObject &request)
{
    const QJsonValue cmd = request.value(QLatin1String("cmd"));
    if (!cmd.isString())
        return refusal(tr("нет команды: ожидается \"cmd\" с текстом list, start, stop или reload"));
    const QString name = cmd.toString();
    if (name == QLatin1String("list"))
        return list();
    if (name == QLatin1String("start") || name == QLatin1String("stop"))
        return startOrStop(request, name == QLatin1String("start"));
    if (name == QLatin1String("reload"))
        return reload();
    return refusal(tr("неизвестная команда \"%1\": ожидается list, start, stop или reload").arg(name.left(64)));
}

QJsonObject ServiceHost::list()
{
    QJsonArray connections;
    for (QPipeItem *pipe : qAsConst(m_pipes))
        connections.append(m_status->describe(pipe));
    return QJsonObject{{QStringLiteral("ok"), true},
                       {QStringLiteral("folder"), m_folder},
                       {QStringLiteral("connections"), connections}};
}

QJsonObject ServiceHost::startOrStop(const QJsonObject &request, bool start)
{
    const QJsonValue value = request.value(QLatin1String("id"));
    const double number = value.toDouble(0);
    // A whole number only: 1.5 or "1" must not reach some connection by rounding.
    if (!value.isDouble() || number != double(qint64(number)) || number < 1 || number > INT_MAX)
        return refusal(tr("нужен \"id\": номер соединения, целое число больше 0"));
    const int id = int(number);
    QPipeItem *pipe = m_pipes.value(id, nullptr);
    if (!pipe)
        return refusal(tr("соединения %1 нет").arg(id));
    if (start == m_runner->isRunning(pipe))
        return done(start ? tr("соединение %1 уже запущено").arg(id) : tr("соединение %1 уже остановлено").arg(id));
    const QString message = start ? tr("соединение %1 запущено").arg(id) : tr("соединение %1 остановлено").arg(id);
    if (start)
        this->start(pipe);
    else
        m_runner->stop(pipe);
    emit line(tr("По запросу: %1").arg(message));
    return done(message);
}

QJsonObject ServiceHost::reload()
{
    QMap<int, QPipeItem *> fresh;
    if (!load(&fresh))
        return refusal(tr("не удалось прочитать %1: соединения работают как прежде").arg(fileName()));
    QList<int> added, removed, changed, unchanged;
    for (auto it = m_pipes.begin(); it != m_pipes.end();) {
        if (fresh.contains(it.key())) {
            ++it;
            continue;
        }
        removed << it.key();
        drop(it.value());
        it = m_pipes.erase(it);
    }
    for (QPipeItem *pipe : qAsConst(fresh)) {
        const int id = pipe->id();
        QPipeItem *old = m_pipes.value(id, nullptr);
        if (old && old->toJson() == pipe->toJson()) {
            unchanged << id;
            delete pipe;
            continue;
        }
        // A changed connection takes the place of the old one as the old one was: one stopped
        // on request stays stopped. A new one starts.
        const bool run = !old || m_runner->isRunning(old);
        if (old) {
            changed << id;
            drop(old);
        } else {
            added << id;
        }
        m_pipes.insert(id, pipe);
        if (run)
            start(pipe);
    }
    const QString message = tr("перечитан %1: новых %2, изменённых %3, удалённых %4, без изменений %5")
                                .arg(fileName())
                                .arg(added.size())
                                .arg(changed.size())
                                .arg(removed.size())
                                .arg(unchanged.size());
    emit line(tr("По запросу: %1").arg(message));
    QJsonObject answer = done(message);
    answer.insert(QStringLiteral("added"), idArray(added));
    answer.insert(QStringLiteral("changed"), idArray(changed));
    answer.insert(QStringLiteral("removed"), idArray(removed));
    answer.insert(QStringLiteral("unchanged"), idArray(unchanged));
    return answer;
}
