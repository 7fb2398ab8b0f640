#include "telnetlink.h"

TelnetLink::TelnetLink(QObject *parent)
    : QObject(parent)
    , m_wait(this)
{
    m_wait.setSingleShot(true);
    m_wait.setInterval(AnswerMs);
    connect(&m_wait, &QTimer::timeout, this, [this] {
        if (m_open && !m_filter.comPortAgreed() && !m_refusalTold) {
            m_refusalTold = true;
            emit note(tr("RFC 2217: удалённая сторона не отвечает на опцию COM-порта; данные идут, параметры линии не переданы"));
        }
    });
}

void TelnetLink::reset()
{
    close();
    m_refusalTold = false;
}

QByteArray TelnetLink::open(const LineSettings &line)
{
    m_filter = TelnetFilter(line);
    m_open = true;
    m_wait.start();
    return m_filter.start();
}

void TelnetLink::close()
{
    m_open = false;
    m_wait.stop();
}

QByteArray TelnetLink::fromNetwork(const QByteArray &raw, QByteArray *reply)
{
    QByteArray data;
    m_filter.fromNetwork(raw, &data, reply);
    const QStringList told = m_filter.takeNotes();
    for (const QString &text : told)
        emit note(tr("RFC 2217: %1").arg(text));
    if (m_filter.comPortRefused() && !m_refusalTold) {
        m_refusalTold = true;
        emit note(tr("RFC 2217: удалённая сторона отказалась от опции COM-порта; данные идут, параметры линии не переданы"));
    }
    return data;
}
