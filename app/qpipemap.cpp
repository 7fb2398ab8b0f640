#include "qpipemap.h"

#include "pipefile.h"

#include <QJsonArray>

#include <climits>

// ---------------------------------------------------------------------------------------------
// QPipeItem

QPipeItem::QPipeItem(QString name, QObject *parent)
    : PipeRelay(parent)
{
    m_settings.name = name;
}

QPipeItem::~QPipeItem() = default;

QVariantMap QPipeItem::getPropertyMap()
{
    return m_settings.toMap();
}

void QPipeItem::setPropertyMap(const QVariantMap &map)
{
    onDisconnection();
    m_loadProblems.clear();
    m_settings = PipeSettings::fromMap(map, &m_loadProblems);
}

QJsonObject QPipeItem::toJson() const
{
    return m_settings.toJson();
}

void QPipeItem::fromJson(const QJsonObject &obj)
{
    m_loadProblems.clear();
    m_settings = PipeSettings::fromJson(obj, &m_loadProblems);
}

void QPipeItem::onConnection()
{
    start(m_settings);
}

void QPipeItem::onDisconnection()
{
    stop();
}

// ---------------------------------------------------------------------------------------------
// QPipeMap

QPipeMap::QPipeMap(QObject *parent)
    : QObject(parent)
{
}

QPipeMap::~QPipeMap()
{
    // The records are not ours to destroy: whoever runs them decides their end.
    m_map.clear();
}

int QPipeMap::maxID() const
{
    if (m_map.isEmpty())
        return 0;
    return qMax(0, m_map.lastKey());
}

int QPipeMap::nextId() const
{
    // A hand-edited file may hold the largest id there is: the next one must not wrap round to
    // a negative id, which the next add would then replace.
    const int top = maxID();
    return top < INT_MAX ? top + 1 : 0;
}

int QPipeMap::addPipe(QPipeItem *item)
{
    const int id = nextId();
    if (id == 0)
        return 0;
    item->setId(id);
    m_map.insert(id, item);
    emit changeMap();
    return id;
}

void QPipeMap::deletePipe(const int &id)
{
    if (m_map.remove(id) > 0)
        emit changeMap();
}

QPipeItem *QPipeMap::itemById(const int &id)
{
    return m_map.value(id, nullptr);
}

QList<QPipeItem *> QPipeMap::getList()
{
    return m_map.values();
}

int QPipeMap::count()
{
    return m_map.count();
}

bool QPipeMap::saveToFile(const QString &fileName)
{
    QJsonArray array;
    for (QPipeItem *item : qAsConst(m_map))
        array.append(item->toJson());
    if (!PipeFile::write(fileName, array)) {
        emit sendStatus(QStringLiteral("Error! Pipe collection saved"));
        return false;
    }
    emit sendStatus(QStringLiteral("File pipe collection saved, OK"));
    return true;
}

void QPipeMap::loadFromFile(const QString &fileName)
{
    QJsonArray array;
    if (PipeFile::read(fileName, &array) != PipeFile::Read) {
        emit sendStatus(QStringLiteral("Error! Pipe collection load"));
        return;
    }
    m_map.clear();
    for (const QJsonValue &value : qAsConst(array)) {
        auto *item = new QPipeItem(QStringLiteral("Pipe"), nullptr);
        item->fromJson(value.toObject());
        const QStringList problems = item->loadProblems();
        for (const QString &problem : problems)
            emit sendLog(problem);
        // A later element with the same id wins; the record it replaces was made just now and
        // is known to nobody else.
        delete m_map.value(item->id(), nullptr);
        m_map.insert(item->id(), item);
    }
    emit sendStatus(QStringLiteral("File pipe collection loaded, OK"));
}
