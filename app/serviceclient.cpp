#include "serviceclient.h"

#include "servicechannel.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalSocket>

ServiceClient::ServiceClient(QObject *parent)
    : QObject(parent)
    , m_socket(new QLocalSocket(this))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        finish({}, tr("служба папки %1 не ответила за %2 с").arg(m_folder).arg((m_timer.interval() + 999) / 1000));
    });
    connect(m_socket, &QLocalSocket::connected, this, [this] {
        m_connected = true;
        m_socket->write(m_request);
    });
    connect(m_socket, &QLocalSocket::readyRead, this, &ServiceClient::onRead);
    // An answer followed at once by the close was read on readyRead, before the close.
    const auto closed = [this] {
        if (!m_done)
            finish({}, tr("служба папки %1 закрыла канал, не ответив").arg(m_folder));
    };
    connect(m_socket, &QLocalSocket::disconnected, this, closed);
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this, closed] {
        if (m_done)
            return;
        if (m_connected) {
            closed();
            return;
        }
        // The socket may still be inside connectToServer(): the next place is tried afterwards,
        // once for each place however many errors it told.
        const int attempt = m_attempt;
        QTimer::singleShot(0, this, [this, attempt] {
            if (attempt == m_attempt)
                tryNext();
        });
    });
}

void ServiceClient::ask(const QString &canonicalFolder, const QJsonObject &request, int timeoutMs)
{
    m_folder = canonicalFolder;
    m_places = ServiceChannel::places(canonicalFolder);
    m_request = QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
    m_timer.start(timeoutMs);
    tryNext();
}

void ServiceClient::tryNext()
{
    if (m_done)
        return;
    if (m_places.isEmpty()) {
        finish({}, tr("служба папки %1 не отвечает: её канал не найден").arg(m_folder));
        return;
    }
    ++m_attempt;
    m_socket->abort();
    m_socket->connectToServer(m_places.takeFirst());
}

void ServiceClient::onRead()
{
    if (m_done)
        return;
    // Only the line that answers counts, and it is bounded: a peer that is not our service must
    // not make the caller hold more than that.
    const qint64 room = ServiceChannel::MaxAnswer + 1 - m_answer.size();
    m_answer += m_socket->read(qMax<qint64>(room, 0));
    const int end = m_answer.indexOf('\n');
    if (end < 0) {
        if (m_answer.size() > ServiceChannel::MaxAnswer)
            finish({}, tr("ответ службы длиннее %1 байт").arg(ServiceChannel::MaxAnswer));
        return;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(m_answer.left(end), &error);
    if (!doc.isObject())
        finish({}, tr("ответ службы не объект JSON"));
    else
        finish(doc.object(), QString());
}

void ServiceClient::finish(const QJsonObject &answer, const QString &why)
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    m_socket->abort();
    if (why.isEmpty())
        emit answered(answer);
    else
        emit failed(why);
}

QString ServiceClient::stateText(const QJsonObject &connection)
{
    if (!connection.value(QLatin1String("running")).toBool())
        return tr("остановлено");
    const int state = connection.value(QLatin1String("state")).toInt();
    if (state == 3)
        return tr("работает");
    QStringList why;
    const struct
    {
        const char *key;
        QString label;
    } sides[] = {{"serial", tr("COM")}, {"socket", tr("TCP")}};
    for (const auto &side : sides) {
        const QJsonObject s = connection.value(QLatin1String(side.key)).toObject();
        if (s.value(QLatin1String("up")).toBool())
            continue;
        QString text = side.label;
        const QString reason = s.value(QLatin1String("reason")).toString();
        if (!reason.isEmpty())
            text += QStringLiteral(": ") + reason;
        const int nextMs = s.value(QLatin1String("next_try_ms")).toInt();
        if (nextMs > 0)
            text += tr(", снова через %1 с").arg((nextMs + 999) / 1000);
        why << text;
    }
    return tr("ждёт (%1)").arg(why.join(QStringLiteral("; ")));
}
