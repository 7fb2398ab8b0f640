#include "notelimiter.h"

#include <QStringList>

NoteLimiter::NoteLimiter(QObject *parent)
    : QObject(parent)
    , m_timer(this)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &NoteLimiter::onTimer);
}

QString NoteLimiter::kindOf(const QString &text)
{
    QString kind;
    kind.reserve(text.size());
    bool inNumber = false;
    for (const QChar c : text) {
        const bool digit = c.isDigit();
        if (!digit)
            kind += c;
        else if (!inNumber)
            kind += QLatin1Char('#');
        inNumber = digit;
    }
    return kind;
}

QString NoteLimiter::leftOutLine(const Kind &kind)
{
    // In one pass: a note may hold a "%2" of its own.
    return tr("%1 (таких строк пропущено: %2)").arg(kind.last, QString::number(kind.leftOut));
}

void NoteLimiter::add(const QString &text)
{
    const qint64 now = m_clock.elapsed();
    QString key = kindOf(text);
    auto it = m_kinds.find(key);
    if (it == m_kinds.end() && m_kinds.size() >= MaxKinds) {
        for (auto k = m_kinds.begin(); k != m_kinds.end();) {
            if (k->quietUntil <= now && k->leftOut == 0)
                k = m_kinds.erase(k);
            else
                ++k;
        }
        if (m_kinds.size() >= MaxKinds) {
            key.clear();
            it = m_kinds.find(key);
        }
    }
    if (it == m_kinds.end())
        it = m_kinds.insert(key, Kind());
    Kind &kind = *it;
    // Each emit comes last: a receiver may add a note of its own, and the table may move.
    if (now < kind.quietUntil) {
        ++kind.leftOut;
        kind.last = text;
        schedule(now);
        return;
    }
    kind.quietUntil = now + QuietMs;
    if (kind.leftOut == 0) {
        emit told(text);
        return;
    }
    // The timer did not come round in time (this thread was busy with the very flood): the
    // count is told now, and this note opens the next one.
    const QString line = leftOutLine(kind);
    kind.leftOut = 1;
    kind.last = text;
    schedule(now);
    emit told(line);
}

void NoteLimiter::flush()
{
    QStringList lines;
    for (const Kind &kind : qAsConst(m_kinds)) {
        if (kind.leftOut > 0)
            lines << leftOutLine(kind);
    }
    m_kinds.clear();
    m_timer.stop();
    for (const QString &line : qAsConst(lines))
        emit told(line);
}

void NoteLimiter::onTimer()
{
    const qint64 now = m_clock.elapsed();
    QStringList lines;
    for (auto k = m_kinds.begin(); k != m_kinds.end();) {
        if (k->quietUntil > now) {
            ++k;
        } else if (k->leftOut == 0) {
            k = m_kinds.erase(k);
        } else {
            // A flood that goes on is told once per quiet time.
            lines << leftOutLine(*k);
            k->leftOut = 0;
            k->quietUntil = now + QuietMs;
            ++k;
        }
    }
    schedule(now);
    for (const QString &line : qAsConst(lines))
        emit told(line);
}

void NoteLimiter::schedule(qint64 now)
{
    qint64 due = -1;
    for (const Kind &kind : qAsConst(m_kinds)) {
        if (kind.leftOut > 0 && (due < 0 || kind.quietUntil < due))
            due = kind.quietUntil;
    }
    if (due < 0)
        return;
    const int wait = int(qMax<qint64>(0, due - now));
    if (!m_timer.isActive() || m_timer.remainingTime() > wait)
        m_timer.start(wait);
}
