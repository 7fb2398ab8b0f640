#include "dialguard.h"

#include "sysio.h"

#include <QSocketNotifier>
#include <QTcpSocket>

DialGuard::DialGuard(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    connect(socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        disarm();
        // The socket's descriptor is made after this is told, and dials at once: looked at once
        // it does.
        if (state == QAbstractSocket::ConnectingState)
            QMetaObject::invokeMethod(this, &DialGuard::arm, Qt::QueuedConnection);
    });
}

DialGuard::~DialGuard()
{
    disarm();
}

void DialGuard::arm()
{
    if (m_copy != -1 || m_socket->state() != QAbstractSocket::ConnectingState)
        return;
    // The socket tells its descriptor only once connected; its write notifier has it while it
    // dials. A copy of our own: there is one notifier per descriptor and kind.
    qintptr descriptor = -1;
    for (const QSocketNotifier *notifier : m_socket->findChildren<QSocketNotifier *>()) {
        if (notifier->type() == QSocketNotifier::Write)
            descriptor = notifier->socket();
    }
    m_copy = SysIo::keepCopy(descriptor);
    if (m_copy == -1)
        return;
    m_seen = 0;
    m_notifier = new QSocketNotifier(m_copy, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DialGuard::onReady);
}

void DialGuard::disarm()
{
    delete m_notifier;
    m_notifier = nullptr;
    // Last: the copy keeps the connection open.
    SysIo::dropCopy(m_copy);
    m_copy = -1;
}

void DialGuard::onReady()
{
    // Closed while still being dialled: the library is about to dial again, unless this is a
    // refusal, which it takes as the end before it is asked again. Once unsure, twice sure.
    bool answered = false;
    if (m_socket->state() != QAbstractSocket::ConnectingState || !SysIo::dialClosed(m_copy, &answered))
        return;
    if (!answered && ++m_seen < 2)
        return;
    disarm();
    emit redialling();
}
