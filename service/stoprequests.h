// The requests to stop the service, from wherever they come, told in its event loop: SIGTERM and
// SIGINT off Windows, the console's Ctrl+C and close on Windows, and post() for any other source
// (the Windows service manager's stop request).
#ifndef STOPREQUESTS_H
#define STOPREQUESTS_H

#include <QObject>
#include <QString>

class QSocketNotifier;

class StopRequests : public QObject
{
    Q_OBJECT

public:
    enum Reason { Terminate = 1, Interrupt = 2, ConsoleClosed = 3, ServiceStop = 4 };

    // One at a time; it takes the signals over for as long as it lives.
    explicit StopRequests(QObject *parent = nullptr);
    ~StopRequests() override;

    // Asks for a stop from any thread; off Windows also from a signal handler.
    static void post(Reason reason);

signals:
    void requested(const QString &why);

private:
    void tell(int reason);

#ifndef Q_OS_WIN
    QSocketNotifier *m_notifier = nullptr;
#endif
};

#endif // STOPREQUESTS_H
