#include "servicewatch.h"

#include "serialports.h"
#include "servicechannel.h"
#include "serviceclient.h"
#include "vcomdefs.h"

#include <QJsonArray>

namespace {

QString shown(const QString &text)
{
    return text.size() > ServiceWatch::MaxShown ? text.left(ServiceWatch::MaxShown) + QStringLiteral("...") : text;
}

QString deviceKey(const QString &device)
{
#ifdef Q_OS_WIN
    // COM5 and com5 are one port there.
    return device.toUpper();
#else
    return device;
#endif
}

} // namespace

ServiceWatch::ServiceWatch(QObject *parent)
    : QObject(parent)
{
}

void ServiceWatch::ask(const QString &folder)
{
    const QString canonical = ServiceChannel::canonicalFolder(folder);
    if (canonical.isEmpty())
        return;
    auto *client = new ServiceClient(this);
    connect(client, &ServiceClient::failed, client, &QObject::deleteLater);
    connect(client, &ServiceClient::answered, this, [this, client](const QJsonObject &answer) {
        client->deleteLater();
        // Refused (too many clients at once, say): nothing is known.
        if (answer.contains(QLatin1String("error")))
            return;
        const QJsonArray connections = answer.value(QLatin1String("connections")).toArray();
        m_held.clear();
        // A service runs four at most; more is not our service's answer, and is not shown.
        const int count = qMin(connections.size(), Vcom::MaxConnections);
        if (count == 0)
            emit line(tr("Служба VantrelVComService работает, соединений у неё нет"));
        for (int i = 0; i < count; ++i) {
            const QJsonObject c = connections.at(i).toObject();
            const int id = c.value(QLatin1String("id")).toInt();
            const bool holds = c.value(QLatin1String("running")).toBool() && (c.value(QLatin1String("state")).toInt() & 1);
            const QString device = c.value(QLatin1String("device")).toString();
            if (holds && !device.isEmpty())
                m_held.insert(deviceKey(device), id);
            emit line(tr("Служба VantrelVComService, соединение %1 %2 (%3 <-> %4): %5")
                          .arg(id)
                          .arg(shown(c.value(QLatin1String("name")).toString()),
                               shown(c.value(QLatin1String("port_null")).toString()),
                               shown(c.value(QLatin1String("endpoint")).toString()),
                               shown(ServiceClient::stateText(c))));
        }
        emit answered();
    });
    client->ask(canonical, QJsonObject{{QStringLiteral("cmd"), QStringLiteral("list")}}, TimeoutMs);
}

QString ServiceWatch::holderOf(const QString &portNull) const
{
    if (m_held.isEmpty() || portNull.isEmpty())
        return QString();
    const auto it = m_held.constFind(deviceKey(SerialPorts::devicePath(portNull)));
    if (it == m_held.constEnd())
        return QString();
    return tr("занят службой VantrelVComService (соединение %1)").arg(it.value());
}
