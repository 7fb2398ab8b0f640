#include "pipesettings.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <limits>
#include <type_traits>

using namespace Vcom;

namespace {

// A whole number held by a JSON or dialog value, not a text that reads as one.
bool wholeNumber(const QVariant &v, qint64 *out)
{
    bool ok = false;
    switch (int(v.type())) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        *out = v.toLongLong(&ok);
        return ok;
    case QMetaType::Double: {
        const double d = v.toDouble();
        // Out of range first: converting such a double to an integer is undefined.
        if (!(d > -1e15 && d < 1e15) || d != std::floor(d))
            return false;
        *out = qint64(d);
        return true;
    }
    default:
        return false;
    }
}

// The index of a text among names, or -1.
template <size_t N>
int nameIndex(const QLatin1String (&names)[N], const QVariant &value)
{
    if (value.type() != QVariant::String)
        return -1;
    const QString text = value.toString();
    for (size_t i = 0; i < N; ++i) {
        if (text == names[i])
            return int(i);
    }
    return -1;
}

// A value as JSON text, whole.
QString jsonText(const QJsonValue &value)
{
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

// Enough of a name or value to know it by in a log line.
constexpr int ShownLength = 64;

} // namespace

int PipeSettings::usableId(const QJsonValue &value)
{
    qint64 n = 0;
    return wholeNumber(value.toVariant(), &n) && n > 0 && n <= std::numeric_limits<int>::max() ? int(n) : 0;
}

QString PipeSettings::shortened(const QString &text)
{
    return text.size() <= ShownLength ? text : text.left(ShownLength - 3) + QStringLiteral("...");
}

QString PipeSettings::shown(const QJsonValue &value)
{
    // A string of megabytes would be turned to JSON whole only to be cut.
    if (value.isString() && value.toString().size() > ShownLength)
        return shortened(jsonText(value.toString().left(ShownLength)));
    return shortened(jsonText(value));
}

void PipeSettings::readAllow(const QVariant &value, QStringList *problems)
{
    // Kept as written, so that a list with a typo is neither lost at the next save nor read as an
    // empty one, which would let any peer in.
    const QJsonValue json = QJsonValue::fromVariant(value);
    if (json.isArray()) {
        const QJsonArray entries = json.toArray();
        for (const QJsonValue &entry : entries)
            allow << (entry.isString() ? entry.toString() : jsonText(entry));
    } else {
        allow << (json.isString() ? json.toString() : jsonText(json));
        if (problems)
            *problems << tr("Соединение %1 «%2»: «%3» не может быть %4; прочитано как список из этой одной записи")
                             .arg(id)
                             .arg(shortened(name), Key::Allow, shown(json));
    }
    int bad = 0;
    QString first;
    for (const QString &entry : qAsConst(allow)) {
        if (isAllowEntry(entry))
            continue;
        if (bad++ == 0)
            first = entry;
    }
    if (bad > 0 && problems)
        *problems << tr("Соединение %1 «%2»: «%3» не может содержать %4: %5 из %6 записей — не адрес и не сеть")
                         .arg(QString::number(id), shortened(name), Key::Allow, shown(first), QString::number(bad),
                              QString::number(allow.size()));
}

void PipeSettings::readModeKeys(const QVariantMap &map, QStringList *problems)
{
    // A value outside its set costs that key only: the default stays, and the problem is told.
    const auto refuse = [this, &map, problems](QLatin1String k) {
        if (problems)
            *problems << tr("Соединение %1 «%2»: «%3» не может быть %4; взято значение по умолчанию")
                             .arg(id)
                             .arg(shortened(name), k, shown(QJsonValue::fromVariant(map.value(k))));
    };
    const auto number = [&map](QLatin1String k, qint64 lo, qint64 hi, int *out) {
        qint64 n = 0;
        if (!wholeNumber(map.value(k), &n) || n < lo || n > hi)
            return false;
        *out = int(n);
        return true;
    };
    if (map.contains(Key::Mode)) {
        const QVariant v = map.value(Key::Mode);
        const QString text = v.type() == QVariant::String ? v.toString() : QString();
        if (text == ServerMode)
            mode = Server;
        else if (text != ClientMode)
            refuse(Key::Mode);
    }
    if (map.contains(Key::Rfc2217)) {
        const QVariant v = map.value(Key::Rfc2217);
        if (v.type() == QVariant::Bool)
            rfc2217 = v.toBool();
        else
            refuse(Key::Rfc2217);
    }
    if (map.contains(Key::Baud) && !number(Key::Baud, MinBaud, MaxBaud, &line.baud))
        refuse(Key::Baud);
    if (map.contains(Key::DataBits) && !number(Key::DataBits, 5, 8, &line.dataBits))
        refuse(Key::DataBits);
    const auto pick = [&map, &refuse](QLatin1String k, const auto &names, auto *out) {
        if (!map.contains(k))
            return;
        const int index = nameIndex(names, map.value(k));
        if (index >= 0)
            *out = std::remove_pointer_t<decltype(out)>(index);
        else
            refuse(k);
    };
    pick(Key::Parity, ParityNames, &line.parity);
    pick(Key::StopBits, StopBitsNames, &line.stopBits);
    if (map.contains(Key::Allow))
        readAllow(map.value(Key::Allow), problems);
}

PipeSettings PipeSettings::fromJson(const QJsonObject &obj, QStringList *problems)
{
    PipeSettings s;
    // toInt() yields 0 for anything but a whole number: 502.5, "502", true and null alike.
    s.id = obj.value(Key::Id).toInt(0);
    s.name = obj.value(Key::Name).toString();
    s.note = obj.value(Key::Note).toString();
    s.portWork = obj.value(Key::PortWork).toVariant().toString();
    s.portNull = obj.value(Key::PortNull).toVariant().toString();
    s.ipAddr = obj.value(Key::IpAddr).toString();
    s.ipPort = obj.value(Key::IpPort).toInt(0);
    if (problems) {
        // What is kept for a value of the wrong type stays as older versions read it; the log
        // says so, so that an empty name or a port 0 in the table is no mystery.
        for (QLatin1String key : {Key::Name, Key::Note, Key::PortWork, Key::PortNull, Key::IpAddr}) {
            const QJsonValue value = obj.value(key);
            if (value.isUndefined() || value.isString())
                continue;
            const QString kept = obj.value(key).toVariant().toString();
            const bool portName = key == Key::PortWork || key == Key::PortNull;
            *problems << tr("Соединение %1 «%2»: «%3» не может быть %4; взято %5")
                             .arg(s.id)
                             .arg(shortened(s.name), key, shown(value), shown(portName ? kept : QString()));
        }
        const QJsonValue port = obj.value(Key::IpPort);
        qint64 n = 0;
        if (!port.isUndefined() && !wholeNumber(port.toVariant(), &n))
            *problems << tr("Соединение %1 «%2»: «%3» не может быть %4; взято %5")
                             .arg(s.id)
                             .arg(shortened(s.name), Key::IpPort, shown(port), QStringLiteral("0"));
        else if (!port.isUndefined() && (n < 1 || n > 65535))
            *problems << tr("Соединение %1 «%2»: «%3» не может быть %4: TCP-порт — от 1 до 65535")
                             .arg(s.id)
                             .arg(shortened(s.name), Key::IpPort, shown(port));
    }
    s.readModeKeys(obj.toVariantMap(), problems);
    return s;
}

PipeSettings PipeSettings::fromMap(const QVariantMap &map, QStringList *problems)
{
    PipeSettings s;
    s.id = map.value(Key::Id).toInt();
    s.name = map.value(Key::Name).toString();
    s.note = map.value(Key::Note).toString();
    s.portWork = map.value(Key::PortWork).toString();
    s.portNull = map.value(Key::PortNull).toString();
    s.ipAddr = map.value(Key::IpAddr).toString();
    s.ipPort = map.value(Key::IpPort).toInt();
    s.readModeKeys(map, problems);
    return s;
}

QJsonObject PipeSettings::toJson() const
{
    QJsonObject obj;
    obj.insert(Key::Id, id);
    obj.insert(Key::Name, name);
    obj.insert(Key::Note, note);
    obj.insert(Key::PortWork, portWork);
    obj.insert(Key::PortNull, portNull);
    obj.insert(Key::IpAddr, ipAddr);
    obj.insert(Key::IpPort, ipPort);
    const LineSettings defaults;
    if (mode == Server)
        obj.insert(Key::Mode, ServerMode);
    if (rfc2217)
        obj.insert(Key::Rfc2217, true);
    if (line.baud != defaults.baud)
        obj.insert(Key::Baud, line.baud);
    if (line.dataBits != defaults.dataBits)
        obj.insert(Key::DataBits, line.dataBits);
    if (line.parity != defaults.parity)
        obj.insert(Key::Parity, ParityNames[int(line.parity)]);
    if (line.stopBits != defaults.stopBits)
        obj.insert(Key::StopBits, StopBitsNames[int(line.stopBits)]);
    if (!allow.isEmpty())
        obj.insert(Key::Allow, QJsonArray::fromStringList(allow));
    return obj;
}

QVariantMap PipeSettings::toMap() const
{
    const QJsonObject obj = toJson();
    QVariantMap map;
    for (auto it = obj.constBegin(); it != obj.constEnd(); ++it) {
        if (it.value().isDouble())
            map.insert(it.key(), it.value().toInt());
        else if (it.value().isBool())
            map.insert(it.key(), it.value().toBool());
        else if (it.value().isArray())
            map.insert(it.key(), it.value().toVariant().toStringList());
        else
            map.insert(it.key(), it.value().toString());
    }
    return map;
}

bool PipeSettings::isAllowEntry(const QString &text)
{
    return !QHostAddress(text).isNull() || QHostAddress::parseSubnet(text).second >= 0;
}
