#include "relayrunner.h"

#include "qpipemap.h"
#include "sysio.h"

#include <QPointer>
#include <QThread>

RelayRunner::RelayRunner(QObject *parent)
    : QObject(parent)
{
    SysIo::preferPlainDispatcher();
}

RelayRunner::~RelayRunner()
{
    const QList<QPipeItem *> pipes = running();
    for (QPipeItem *pipe : pipes)
        stop(pipe);
    for (QThread *thread : qAsConst(m_threads)) {
        thread->quit();
        // Never destroy a running thread: one that does not end goes with the process instead.
        if (!thread->wait(ThreadWaitMs))
            thread->setParent(nullptr);
    }
}

void RelayRunner::start(QPipeItem *pipe)
{
    if (m_running.contains(pipe))
        return;
    QThread *thread = m_threads.value(pipe->id(), nullptr);
    if (!thread) {
        thread = new QThread(this);
        m_threads.insert(pipe->id(), thread);
    }
    forward(pipe);
    m_running.insert(pipe);
    // The record takes its port, socket and timers along: the relay runs in the worker thread, and
    // nothing the runner's thread does (a modal box, an outside tool, painting) delays a byte.
    pipe->moveToThread(thread);
    thread->start(QThread::InheritPriority);
    QMetaObject::invokeMethod(pipe, &QPipeItem::onConnection, Qt::QueuedConnection);
}

void RelayRunner::stop(QPipeItem *pipe)
{
    if (!m_running.remove(pipe))
        return;
    QThread *home = thread();
    QThread *worker = pipe->thread();
    if (worker == home) {
        pipe->onDisconnection();
        return;
    }
    // The port and the socket may only be closed in their own thread; it never waits for this
    // one, so the wait is short.
    QMetaObject::invokeMethod(pipe, [pipe, home] {
        pipe->onDisconnection();
        pipe->moveToThread(home);
    }, Qt::BlockingQueuedConnection);
    // Nothing of the connection runs there any more: quit() ends it at once.
    worker->quit();
    worker->wait();
}

void RelayRunner::forward(QPipeItem *pipe)
{
    if (m_forwarded.contains(pipe))
        return;
    m_forwarded.insert(pipe);
    // Records are destroyed in this thread, once stopped: the address may be taken by another.
    connect(pipe, &QObject::destroyed, this, [this, pipe] {
        m_forwarded.remove(pipe);
        m_running.remove(pipe);
    }, Qt::DirectConnection);
    // A report still on its way when the record is destroyed is dropped.
    const QPointer<QPipeItem> from(pipe);
    connect(pipe, &PipeRelay::stateChanged, this, [this, from](int state, bool started) {
        if (from)
            emit stateChanged(from, state, started);
    });
    connect(pipe, &PipeRelay::sideChanged, this,
            [this, from](int side, bool up, const QString &what, const QString &reason, int retryMs) {
                if (from)
                    emit sideChanged(from, side, up, what, reason, retryMs);
            });
    connect(pipe, &PipeRelay::sideRetrying, this, [this, from](int side, int retryMs) {
        if (from)
            emit sideRetrying(from, side, retryMs);
    });
    connect(pipe, &PipeRelay::note, this, [this, from](const QString &text) {
        if (from)
            emit note(from, text);
    });
    connect(pipe, &PipeRelay::countersChanged, this,
            [this, from](qint64 toSocket, qint64 toSerial, qint64 droppedToSocket, qint64 droppedToSerial) {
                if (from)
                    emit countersChanged(from, toSocket, toSerial, droppedToSocket, droppedToSerial);
            });
}
