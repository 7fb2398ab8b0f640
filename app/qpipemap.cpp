#include "qpipemap.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSet>

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
    const int top = m_map.isEmpty() ? 0 : qMax(0, m_map.lastKey());
    return qMax(top, m_unloadedTop);
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
    bool written = false;
    const QString key = QFileInfo(fileName).absoluteFilePath();
    if (!m_keptOff.contains(key)) {
        QJsonArray array;
        for (QPipeItem *item : qAsConst(m_map))
            array.append(item->toJson());
        for (const QJsonValue &value : qAsConst(m_unloaded))
            array.append(value);
        PipeFile::Refusal refusal = PipeFile::Refusal::None;
        written = PipeFile::write(fileName, array, &refusal);
        if (refusal != PipeFile::Refusal::None) {
            // Whatever took the name since it was read stays as it is for the rest of the run.
            m_keptOff.insert(key, refusal);
            emit sendLog(tr("%1 не сохранён: его имя заняли ссылка, папка или другой необычный файл, и программа их "
                            "не трогает")
                             .arg(QDir::toNativeSeparators(fileName)));
        }
    }
    if (!written) {
        emit sendStatus(tr("Error! Pipe collection saved"));
        return false;
    }
    emit sendStatus(tr("File pipe collection saved, OK"));
    return true;
}

void QPipeMap::loadFromFile(const QString &fileName)
{
    QJsonArray array;
    const PipeFile::ReadResult read = PipeFile::read(fileName, &array);
    const QString key = QFileInfo(fileName).absoluteFilePath();
    m_keptOff.remove(key);
    if (read.refusal != PipeFile::Refusal::None) {
        tellRefusal(fileName, read);
        // Replacing it would lose it: only a copy that was read back whole lets a save go ahead.
        if (!read.backedUp)
            m_keptOff.insert(key, read.refusal);
    }
    m_missing = read.missing;
    if (read.missing || read.refusal != PipeFile::Refusal::None) {
        emit sendStatus(tr("Error! Pipe collection load"));
        return;
    }
    takeRecords(array);
    emit sendStatus(tr("File pipe collection loaded, OK"));
}

void QPipeMap::takeRecords(const QJsonArray &array)
{
    using namespace Vcom;
    // A record keeps a usable id that no record before it holds; any other gets one above every
    // id in the file, so that it clashes with no record, loaded or left out.
    QSet<int> inFile;
    int top = 0;
    for (const QJsonValue &value : array) {
        const int id = PipeSettings::usableId(value.toObject().value(Key::Id));
        if (id > 0) {
            inFile.insert(id);
            top = qMax(top, id);
        }
    }
    QSet<int> taken;
    const auto freshId = [&inFile, &taken, &top]() {
        if (top < INT_MAX)
            return ++top;
        // The largest id there is is in use: the lowest free one will do.
        int id = 1;
        while (inFile.contains(id) || taken.contains(id))
            ++id;
        return id;
    };

    m_map.clear();
    m_unloaded = QJsonArray();
    m_unloadedTop = 0;
    const int loaded = qMin(array.size(), MaxConnections);
    for (int i = 0; i < loaded; ++i) {
        const QJsonValue value = array.at(i);
        QJsonObject obj = value.toObject();
        const QString name = PipeSettings::shortened(obj.value(Key::Name).toString());
        int id = PipeSettings::usableId(obj.value(Key::Id));
        if (id == 0 || taken.contains(id)) {
            const int fresh = freshId();
            // In one arg() call each, so that a name holding "%3" stays as it is.
            const QString position = QString::number(i + 1);
            if (!value.isObject())
                emit sendLog(tr("Запись %1 файла — %2, а не соединение; она прочитана как пустое соединение с id %3")
                                 .arg(position, PipeSettings::shown(value), QString::number(fresh)));
            else if (!obj.contains(Key::Id))
                emit sendLog(tr("У записи %1 «%2» файла нет id; ей дан id %3")
                                 .arg(position, name, QString::number(fresh)));
            else if (id == 0)
                emit sendLog(tr("Запись %1 «%2» файла: id %3 — не целое число больше 0; ей дан id %4")
                                 .arg(position, name, PipeSettings::shown(obj.value(Key::Id)), QString::number(fresh)));
            else
                emit sendLog(tr("Запись %1 «%2» файла: id %3 уже занят записью выше; ей дан id %4")
                                 .arg(position, name, QString::number(id), QString::number(fresh)));
            id = fresh;
        }
        taken.insert(id);
        obj.insert(Key::Id, id);
        auto *item = new QPipeItem(QStringLiteral("Pipe"), nullptr);
        item->fromJson(obj);
        const QStringList problems = item->loadProblems();
        for (const QString &problem : problems)
            emit sendLog(problem);
        m_map.insert(id, item);
    }
    for (int i = loaded; i < array.size(); ++i) {
        m_unloaded.append(array.at(i));
        m_unloadedTop = qMax(m_unloadedTop, PipeSettings::usableId(array.at(i).toObject().value(Key::Id)));
    }
    if (!m_unloaded.isEmpty())
        emit sendLog(tr("Записи файла сверх первых %1 не загружены: %2. Они не запускаются и остаются в файле как "
                        "есть")
                         .arg(MaxConnections)
                         .arg(m_unloaded.size()));
}

void QPipeMap::tellRefusal(const QString &fileName, const PipeFile::ReadResult &read)
{
    const QString file = QDir::toNativeSeparators(fileName);
    const QString backup = QDir::toNativeSeparators(PipeFile::backupName(fileName));
    QString what;
    switch (read.refusal) {
    case PipeFile::Refusal::Link:
    case PipeFile::Refusal::Folder:
    case PipeFile::Refusal::Special:
        emit sendLog(tr("%1 оставлен как есть, не прочитан и не записан: %2").arg(file, read.detail));
        return;
    case PipeFile::Refusal::Unreadable:
        emit sendLog(tr("%1 не удалось прочитать (%2); он и не записывается, чтобы не пропал").arg(file, read.detail));
        return;
    case PipeFile::Refusal::NotAList:
        what = tr("%1 — не список соединений (%2)").arg(file, read.detail);
        break;
    case PipeFile::Refusal::TooLarge:
        what = tr("%1 больше %2 МиБ, а список соединений таким не бывает")
                   .arg(file, QString::number(PipeFile::MaxSize / (1024 * 1024)));
        break;
    case PipeFile::Refusal::None:
        return;
    }
    if (read.backedUp)
        emit sendLog(tr("%1; его копия сохранена как %2").arg(what, backup));
    else
        emit sendLog(tr("%1, а сохранить его копию %2 не удалось (%3); он не перезаписывается")
                         .arg(what, backup, read.backupDetail));
}

QString QPipeMap::whyNotSaved(const QString &fileName) const
{
    const auto it = m_keptOff.constFind(QFileInfo(fileName).absoluteFilePath());
    if (it == m_keptOff.constEnd())
        return QString();
    const QString backup = QFileInfo(PipeFile::backupName(fileName)).fileName();
    switch (*it) {
    case PipeFile::Refusal::Link:
        return tr("это символьная ссылка, а через ссылки программа не пишет");
    case PipeFile::Refusal::Folder:
        return tr("на его месте папка");
    case PipeFile::Refusal::Special:
        return tr("это не обычный файл, а канал или устройство");
    case PipeFile::Refusal::Unreadable:
        return tr("его не удалось прочитать, и новый файл на его месте стёр бы его");
    case PipeFile::Refusal::NotAList:
        return tr("в нём не список соединений, а сохранить его копию %1 не удалось").arg(backup);
    case PipeFile::Refusal::TooLarge:
        return tr("он больше %1 МиБ, а сохранить его копию %2 не удалось")
            .arg(PipeFile::MaxSize / (1024 * 1024))
            .arg(backup);
    case PipeFile::Refusal::None:
        break;
    }
    return QString();
}
