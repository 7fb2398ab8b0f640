// The Windows system's own text for an error code, for the messages that name what failed.
#ifndef SYSTEMERROR_H
#define SYSTEMERROR_H

#include <QCoreApplication>
#include <QString>

class SystemError
{
    Q_DECLARE_TR_FUNCTIONS(SystemError)

public:
    // The system's text for code, or the number where it has none.
    static QString text(unsigned long code);
    // The same for the calling thread's last error.
    static QString last();
};

#endif // SYSTEMERROR_H
