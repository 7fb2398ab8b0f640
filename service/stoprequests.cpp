#include "stoprequests.h"

#include <atomic>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::atomic<StopRequests *> g_instance{nullptr};

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        StopRequests::post(StopRequests::Interrupt);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        StopRequests::post(StopRequests::ConsoleClosed);
        return TRUE;
    default:
        return FALSE;
    }
}
#else
// A signal handler may only write to a descriptor: the byte wakes the event loop.
int g_pipe[2] = {-1, -1};

void onSignal(int signal)
{
    StopRequests::post(signal == SIGINT ? StopRequests::Interrupt : StopRequests::Terminate);
}
#endif

} // namespace

StopRequests::StopRequests(QObject *parent)
    : QObject(parent)
{
    g_instance = this;
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("StopRequests: no pipe for the signals");
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char reason = 0;
        while (::read(g_pipe[0], &reason, 1) == 1)
            tell(reason);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#endif
}

StopRequests::~StopRequests()
{
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
    g_instance = nullptr;
}

void StopRequests::post(Reason reason)
{
#ifdef Q_OS_WIN
    StopRequests *instance = g_instance.load();
    if (instance)
        QMetaObject::invokeMethod(instance, [instance, reason] { instance->tell(reason); }, Qt::QueuedConnection);
#else
    if (g_pipe[1] != -1) {
        const char byte = char(reason);
        const ssize_t written = ::write(g_pipe[1], &byte, 1);
        Q_UNUSED(written)
    }
#endif
}

void StopRequests::tell(int reason)
{
    switch (reason) {
    case Terminate:
        emit requested(QStringLiteral("SIGTERM"));
        break;
    case Interrupt:
        emit requested(tr("прерывание (SIGINT, Ctrl+C)"));
        break;
    case ConsoleClosed:
        emit requested(tr("окно консоли закрыто"));
        break;
    default:
        emit requested(tr("запрос диспетчера служб"));
        break;
    }
}
