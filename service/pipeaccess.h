// Who may open the service's channel on Windows: the administrators, the account the service
// runs as (LocalSystem under the service manager, the user in a console), and nobody from the
// network. QLocalServer's options cannot say that: they give the process's user, its primary
// group (for LocalSystem that is SYSTEM again, for a user often "Domain Users") and everyone.
//
// A named pipe's security is fixed by its first instance: later instances of the same name keep
// it. So the channel's first instance is made here with that security, and must be the first of
// its name (a pipe someone made before us is refused, not joined); QLocalServer then makes its
// own instances of the name, and this one is closed.
#ifndef PIPEACCESS_H
#define PIPEACCESS_H

#include <QCoreApplication>
#include <QString>

class PipeAccess
{
    Q_DECLARE_TR_FUNCTIONS(PipeAccess)

public:
    PipeAccess() = default;
    ~PipeAccess() { release(); }
    PipeAccess(const PipeAccess &) = delete;
    PipeAccess &operator=(const PipeAccess &) = delete;

    // Makes the first instance of the pipe serverName (a QLocalServer name). False, with why, when
    // the name is taken or the instance cannot be made.
    bool claim(const QString &serverName, QString *why);
    // Closes that instance; the pipe lives on in the instances made since.
    void release();

    // The security the pipe gets, in the system's descriptor language, for the account this
    // process runs as.
    static QString descriptor();

private:
    void *m_handle = nullptr;
};

#endif // PIPEACCESS_H
