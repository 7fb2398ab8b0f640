#include "telnetfilter.h"

// Not negotiating yet: data passes through with 0xFF escaped both ways.

TelnetFilter::TelnetFilter(const LineSettings &line)
    : m_line(line)
{
}

QByteArray TelnetFilter::start()
{
    m_state = State::Data;
    return QByteArray();
}

void TelnetFilter::fromNetwork(const QByteArray &in, QByteArray *data, QByteArray *reply)
{
    Q_UNUSED(reply)
    data->append(in);
}

QByteArray TelnetFilter::toNetwork(const QByteArray &data)
{
    return data;
}

QStringList TelnetFilter::takeNotes()
{
    QStringList notes;
    notes.swap(m_notes);
    return notes;
}

void TelnetFilter::onOption(unsigned char, unsigned char, QByteArray *)
{
}

void TelnetFilter::onSubnegotiation(QByteArray *)
{
}

QByteArray TelnetFilter::lineCommands() const
{
    return QByteArray();
}
