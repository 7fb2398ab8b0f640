#include "controlserver.h"

#include "servicechannel.h"

#ifdef Q_OS_WIN
#include "pipeaccess.h"
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLockFile>
#include <QLocalSocket>
#include <QTimer>

namespace {

// Set on a client while the rest of a line over the bound is passed over.
const char *const kTooLong = "tooLong";

QByteArray lineOf(const QJsonObject &answer)
{
    return QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
}

// Whether a server answers at that name: a live service, or one that hangs but still holds it.
bool answers(const QString &place)
{
    QLocalSocket probe;
    probe.connectToServer(place);
    const bool live = probe.waitForConnected(1000);
    probe.abort();
    return live;
}

} // namespace

ControlServer::ControlServer(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    // The socket is made in a private folder with these bits and only then put in its place:
    // nobody else can reach it in between.
    m_server.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &ControlServer::onNewConnection);
}

// The socket goes before the lock that guards its place.
ControlServer::~ControlServer()
{
    m_server.close();
}

bool ControlServer::listen(const QString &canonicalFolder, QString *why)
{
    const QStringList places = ServiceChannel::places(canonicalFolder);
    for (const QString &place : places) {
        if (answers(place)) {
            *why = tr("служба папки %1 уже работает: её канал %2 отвечает").arg(canonicalFolder, place);
            return false;
        }
    }
    const QString place = ServiceChannel::placeToListen(canonicalFolder);
    // Two services started at the same moment both find nobody answering: the lock lets only
    // one of them take the place. A lock of a process that is gone is taken over.
    // A named pipe's name is no path: its lock goes to the temporary folder.
    const QString lockName = (QDir::isAbsolutePath(place) ? place : QDir::tempPath() + QLatin1Char('/') + place)
                             + QStringLiteral(".lock");
    m_lock.reset(new QLockFile(lockName));
    if (!m_lock->tryLock(0)) {
        *why = tr("служба папки %1 уже запускается: %2 занят").arg(canonicalFolder, lockName);
        return false;
    }
#ifdef Q_OS_WIN
    // The pipe's security comes from its first instance, which this makes; the library's
    // instances join it. See PipeAccess.
    PipeAccess access;
    if (!access.claim(place, why))
        return false;
#endif
    // Nobody answers there. A socket file left by a service that ended without cleaning up is
    // replaced: the library makes the socket aside and renames it into its place.
    if (!m_server.listen(place)) {
        *why = tr("канал %1 не открыт: %2").arg(place, m_server.errorString());
        return false;
    }
#ifndef Q_OS_WIN
    // Read and write are what a socket needs; the library leaves the execute bits on too.
    QFile::setPermissions(m_server.fullServerName(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
#endif
    return true;
}

void ControlServer::onNewConnection()
{
    while (QLocalSocket *client = m_server.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        // Bounded, so that a client's endless line stays in the socket's own buffers, not ours.
        client->setReadBufferSize(ServiceChannel::MaxLine + 1);
        auto *deadline = new QTimer(client);
        deadline->setObjectName(QStringLiteral("deadline"));
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, client, &QLocalSocket::abort);
        deadline->start(LineTimeoutMs);
        if (m_clients >= MaxClients) {
            refuse(client, tr("слишком много клиентов сразу: не больше %1").arg(MaxClients));
            continue;
        }
        ++m_clients;
        // At once, not when the object goes: a client that leaves makes room for the next one
        // even within the same turn of the event loop.
        connect(client, &QLocalSocket::disconnected, this, [this] { --m_clients; });
        connect(client, &QLocalSocket::readyRead, this, [this, client] { serve(client); });
        connect(client, &QLocalSocket::bytesWritten, this, [this, client] { serve(client); });
        serve(client);
    }
}

void ControlServer::serve(QLocalSocket *client)
{
    if (client->state() != QLocalSocket::ConnectedState)
        return;
    while (client->bytesToWrite() < MaxUnread) {
        // A line over the bound is not kept: its bytes are passed over up to its end, and only
        // then answered, so that the client reads the answer as it would any other.
        const bool tooLong = client->property(kTooLong).toBool();
        if (!client->canReadLine()) {
            if (tooLong || client->bytesAvailable() > ServiceChannel::MaxLine) {
                client->setProperty(kTooLong, true);
                client->skip(client->bytesAvailable());
            }
            return;
        }
        QByteArray line = client->readLine(ServiceChannel::MaxLine + 2);
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!tooLong && line.trimmed().isEmpty())
            continue;
        client->setProperty(kTooLong, false);
        const QJsonObject answer = tooLong ? QJsonObject{{QStringLiteral("error"), tr("строка длиннее %1 байт").arg(ServiceChannel::MaxLine)}}
                                           : answerLine(line);
        client->write(lineOf(answer));
        // Out at once: a client that closed its sending side after its line (a script piping into
        // socat) is closed by the library as soon as that end is read, with what is unsent.
        client->flush();
        if (auto *deadline = client->findChild<QTimer *>(QStringLiteral("deadline")))
            deadline->start(LineTimeoutMs);
        // The handler may have taken a while (a reload): the client may be gone meanwhile.
        if (client->state() != QLocalSocket::ConnectedState)
            return;
    }
}

QJsonObject ControlServer::answerLine(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError)
        return QJsonObject{{QStringLiteral("error"), tr("не JSON: %1 (байт %2)").arg(error.errorString()).arg(error.offset)}};
    if (!doc.isObject())
        return QJsonObject{{QStringLiteral("error"), tr("ожидается объект JSON, например {\"cmd\":\"list\"}")}};
    return m_handler(doc.object());
}

void ControlServer::refuse(QLocalSocket *client, const QString &why)
{
    client->write(lineOf(QJsonObject{{QStringLiteral("error"), why}}));
    // Nothing more of it is read; it goes once the answer is out, or at its deadline.
    disconnect(client, &QLocalSocket::readyRead, this, nullptr);
    disconnect(client, &QLocalSocket::bytesWritten, this, nullptr);
    client->disconnectFromServer();
}
