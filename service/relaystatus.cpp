#include "relaystatus.h"

#include "qpipemap.h"
#include "relayrunner.h"
#include "serialports.h"

#include <QJsonArray>

RelayStatus::RelayStatus(RelayRunner *runner, QObject *parent)
    : QObject(parent)
    , m_runner(runner)
{
    m_clock.start();
    connect(runner, &RelayRunner::stateChanged, this, [this](QPipeItem *pipe, int state, bool started) {
        View &view = viewOf(pipe);
        // A stop leaves nothing of the sides to tell. (A start tells them afresh, some of them
        // before its own state: they are kept.)
        if (!started && view.started)
            std::fill(std::begin(view.sides), std::end(view.sides), Side());
        view.state = state;
        view.started = started;
    });
    connect(runner, &RelayRunner::sideChanged, this,
            [this](QPipeItem *pipe, int side, bool up, const QString &, const QString &reason, int retryMs) {
                if (side < 0 || side > 1)
                    return;
                Side &s = viewOf(pipe).sides[side];
                s.up = up;
                s.reason = reason;
                s.nextTryAt = retryMs > 0 ? m_clock.elapsed() + retryMs : -1;
            });
    connect(runner, &RelayRunner::sideRetrying, this, [this](QPipeItem *pipe, int side, int retryMs) {
        if (side >= 0 && side <= 1)
            viewOf(pipe).sides[side].nextTryAt = m_clock.elapsed() + retryMs;
    });
    connect(runner, &RelayRunner::countersChanged, this,
            [this](QPipeItem *pipe, qint64 toSocket, qint64 toSerial, qint64 droppedToSocket, qint64 droppedToSerial) {
                View &view = viewOf(pipe);
                view.counts[0] = toSocket;
                view.counts[1] = toSerial;
                view.counts[2] = droppedToSocket;
                view.counts[3] = droppedToSerial;
            });
}

RelayStatus::View &RelayStatus::viewOf(const QPipeItem *pipe)
{
    if (!m_views.contains(pipe)) {
        // Another record may later be made at the same address.
        connect(pipe, &QObject::destroyed, this, [this, pipe] { m_views.remove(pipe); });
    }
    return m_views[pipe];
}

QJsonObject RelayStatus::describe(QPipeItem *pipe) const
{
    const PipeSettings &settings = pipe->settings();
    const View view = m_views.value(pipe);
    const bool running = m_runner->isRunning(pipe);
    QJsonObject sides[2];
    for (int side = 0; side < 2; ++side) {
        // The state bits are the truth of up and down; the reports say why and until when.
        const bool up = running && (view.state & (1 << side));
        sides[side].insert(QStringLiteral("up"), up);
        const Side &s = view.sides[side];
        if (running && !up && !s.up) {
            sides[side].insert(QStringLiteral("reason"), s.reason);
            if (s.nextTryAt >= 0)
                sides[side].insert(QStringLiteral("next_try_ms"), qMax<qint64>(s.nextTryAt - m_clock.elapsed(), 0));
        }
    }
    return QJsonObject{
        {QStringLiteral("id"), pipe->id()},
        {QStringLiteral("name"), settings.name},
        {QStringLiteral("note"), settings.note},
        {QStringLiteral("port_work"), settings.portWork},
        {QStringLiteral("port_null"), settings.portNull},
        // What the service opens for port_null, for a program on the same machine that opens
        // the same device under another name.
        {QStringLiteral("device"), SerialPorts::devicePath(settings.portNull)},
        {QStringLiteral("endpoint"), QStringLiteral("%1:%2").arg(settings.ipAddr).arg(settings.ipPort)},
        {QStringLiteral("mode"), QString(settings.mode == PipeSettings::Server ? Vcom::ServerMode : Vcom::ClientMode)},
        {QStringLiteral("rfc2217"), settings.rfc2217},
        {QStringLiteral("running"), running},
        {QStringLiteral("state"), running ? view.state : 0},
        {QStringLiteral("serial"), sides[0]},
        {QStringLiteral("socket"), sides[1]},
        {QStringLiteral("counters"), QJsonObject{{QStringLiteral("to_tcp"), view.counts[0]},
                                                 {QStringLiteral("to_com"), view.counts[1]},
                                                 {QStringLiteral("dropped_to_tcp"), view.counts[2]},
                                                 {QStringLiteral("dropped_to_com"), view.counts[3]}}},
    };
}
