#include "pipesettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
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

} // namespace

void PipeSettings::readModeKeys(const QVariantMap &map, QStringList *problems)
{
    // A value outside its set costs that key only: the default stays, and the problem is told.
    const auto refuse = [this, &map, problems](QLatin1String k) {
        const QJsonValue value = QJsonValue::fromVariant(map.value(k));
        QByteArray shown = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        shown = shown.mid(1, shown.size() - 2);
        if (problems)
            *problems << tr("Connection %1 \"%2\": \"%3\" cannot be %4; the default is used")
                             .arg(id)
                             .arg(name, k, QString::fromUtf8(shown));
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
        allow = map.value(Key::Allow).toStringList();
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
