#include "servicelog.h"

#include <QDateTime>

#include <cstdio>

void ServiceLog::write(const QString &line)
{
    const QString stamped = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + line;
    // UTF-8 whatever the locale: the journal and a terminal both take it.
    const QByteArray bytes = stamped.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    for (const Sink &sink : qAsConst(m_sinks))
        sink(line);
}
