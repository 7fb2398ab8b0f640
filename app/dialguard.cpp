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

qintptr DialGuard::dialling() const
{
    // The socket tells its descriptor only once connected; its write notifier has it while it
    // dials.
    qintptr descriptor = -1;
    for (const QSocketNotifier *notifier : m_socket->findChildren<QSocketNotifier *>()) {
        if (notifier->type() == QSocketNotifier::Write)
            descriptor = notifier->socket();
    }
    return descriptor;
}

void DialGuard::arm()
{
    if (m_copy != -1 || m_socket->state() != QAbstractSocket::ConnectingState)
        return;
    // A copy of our own: there is one notifier per descriptor and kind.
    m_copy = SysIo::keepCopy(dialling());
    if (m_copy == -1)
        return;
    m_answered = false;
    m_closedLooks = 0;
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
    if (m_socket->state() != QAbstractSocket::ConnectingState)
        return;
    if (!SysIo::sameSocket(m_copy, dialling())) {
        // The library dials a name's next address on a socket of its own.
        disarm();
        arm();
        return;
    }
    bool answered = false;
    const SysIo::Dial dial = SysIo::dialState(m_copy, &answered);
    if (dial == SysIo::Dialling)
        return;
    if (dial == SysIo::Answered && m_closedLooks == 0) {
        // The library takes it at its next look, unless the peer resets it first.
        m_answered = true;
        return;
    }
    // Closed after an answer, or answered anew after being closed: the library dials again each
    // time it looks, and would for good. A refusal ends its dialling at its next look, so a
    // dial closed at that many looks is not one.
    if (dial == SysIo::Answered || answered || m_answered || ++m_closedLooks >= 3) {
        disarm();
        emit redialling();
        return;
    }
    // A closed socket is ready for good: looked at again once the library has had its turn.
    m_notifier->setEnabled(false);
    QMetaObject::invokeMethod(this, [this] {
        if (m_notifier)
            m_notifier->setEnabled(true);
    }, Qt::QueuedConnection);
}
