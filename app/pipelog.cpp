#include "pipelog.h"

#include "qpipemap.h"
#include "relayrunner.h"

PipeLog::PipeLog(QObject *parent)
    : QObject(parent)
{
}

void PipeLog::follow(RelayRunner *runner)
{
    connect(runner, &RelayRunner::sideChanged, this,
            [this](QPipeItem *pipe, int side, bool up, const QString &what, const QString &reason, int retryMs) {
                if (side == PipeRelay::SerialSide || side == PipeRelay::SocketSide)
                    emit line(sideLine(pipe, up, what, shownReason(pipe, side, reason), retryMs));
            });
    connect(runner, &RelayRunner::note, this, [this](QPipeItem *pipe, const QString &text) {
        emit line(noteLine(pipe, text));
    });
}

void PipeLog::follow(QPipeMap *map)
{
    connect(map, &QPipeMap::sendLog, this, &PipeLog::line);
}

QString PipeLog::shownReason(const QPipeItem *pipe, int side, const QString &reason) const
{
    if (side != PipeRelay::SerialSide || !m_holder)
        return reason;
    const QString holder = m_holder(pipe->portNull());
    return holder.isEmpty() ? reason : holder;
}

QString PipeLog::label(const QPipeItem *pipe)
{
    return QStringLiteral("%1 %2").arg(pipe->id()).arg(pipe->getName());
}

QString PipeLog::sideLine(const QPipeItem *pipe, bool up, const QString &what, const QString &reason, int retryMs)
{
    if (up)
        return tr("%1: %2 работает").arg(label(pipe), what);
    QString text = tr("%1: %2 не работает: %3").arg(label(pipe), what, reason);
    if (retryMs > 0)
        text += tr("; следующая попытка через %1 с").arg((retryMs + 500) / 1000);
    return text;
}

QString PipeLog::noteLine(const QPipeItem *pipe, const QString &text)
{
    return tr("%1: %2").arg(label(pipe), text);
}
