#include "serviceregistration.h"

#include "eventlogsink.h"
#include "servicechannel.h"
#include "serviceoptions.h"
#include "serviceprogram.h"
#include "systemerror.h"
#include "vcomdefs.h"
#include "windowsservice.h"

#include <QDir>
#include <QElapsedTimer>

#include <windows.h>

namespace {

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// One argument: in quotes, with every run of backslashes before a quote (the closing one too)
// doubled, the rule by which the C runtime splits a command line.
QString quoted(const QString &argument)
{
    QString out = QStringLiteral("\"");
    int slashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++slashes;
            continue;
        }
        out += QString(c == QLatin1Char('"') ? slashes * 2 + 1 : slashes, QLatin1Char('\\')) + c;
        slashes = 0;
    }
    return out + QString(slashes * 2, QLatin1Char('\\')) + QLatin1Char('"');
}

class ServiceHandle
{
public:
    explicit ServiceHandle(SC_HANDLE handle)
        : m_handle(handle)
    {
    }
    ~ServiceHandle()
    {
        if (m_handle)
            CloseServiceHandle(m_handle);
    }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;
    operator SC_HANDLE() const { return m_handle; }

private:
    SC_HANDLE m_handle;
};

// What failed, and why: error is the failed call's, taken before anything else can change it.
QString refusal(const QString &what, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED)
        return ServiceRegistration::tr("%1: нужны права администратора (запустите от имени администратора)").arg(what);
    return QStringLiteral("%1: %2").arg(what, SystemError::text(error));
}

// Restart after a failure: twice after 5 s, then after 30 s; the count starts anew after a day
// without one.
bool setFailureActions(SC_HANDLE service)
{
    SC_ACTION actions[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}};
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = 24 * 3600;
    failure.cActions = DWORD(sizeof actions / sizeof actions[0]);
    failure.lpsaActions = actions;
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

// The same when the service ends with a code of its own (its channel taken, say), not only when
// it crashes. False where the manager does not know the setting (Wine's).
bool setFailureActionsOnError(SC_HANDLE service)
{
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
}

} // namespace

QString ServiceRegistration::commandLine(const QString &program, const QString &folder)
{
    return quoted(QDir::toNativeSeparators(program)) + QStringLiteral(" --service --dir ")
           + quoted(QDir::toNativeSeparators(folder));
}

int ServiceRegistration::install(const ServiceOptions &options, QString *message)
{
    const QString name = WindowsService::name();
    if (!QDir().mkpath(options.folder)) {
        *message = tr("папка %1 не создана").arg(QDir::toNativeSeparators(options.folder));
        return ServiceProgram::Failed;
    }
    const QString folder = ServiceChannel::canonicalFolder(options.folder);
    if (folder.isEmpty()) {
        *message = tr("%1 не папка").arg(QDir::toNativeSeparators(options.folder));
        return ServiceProgram::Failed;
    }
    const QString program = QCoreApplication::applicationFilePath();
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        const DWORD error = GetLastError();
        *message = refusal(tr("диспетчер служб"), error);
        return ServiceProgram::Failed;
    }
    const QString display = tr("Служба VantrelVCom");
    // LocalSystem (no account given): the ports, the network and the folder are open to it.
    ServiceHandle service(CreateServiceW(manager, wide(name), wide(display),
                                         SERVICE_CHANGE_CONFIG | SERVICE_START | DELETE, SERVICE_WIN32_OWN_PROCESS,
                                         SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         wide(commandLine(program, folder)), nullptr, nullptr, nullptr, nullptr,
                                         nullptr));
    if (!service) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS)
            *message = tr("служба %1 уже установлена; чтобы установить её заново, сначала --uninstall").arg(name);
        else
            *message = refusal(tr("служба %1 не установлена").arg(name), error);
        return ServiceProgram::Failed;
    }
    const QString description = tr("Соединения VCOM <-> TCP IP из %1 без окна и без входа пользователя. "
                                   "Команды: VantrelVComService --help.")
                                    .arg(QDir::toNativeSeparators(folder + QLatin1Char('/') + QLatin1String(Vcom::PipesFile)));
    SERVICE_DESCRIPTIONW text = {const_cast<wchar_t *>(wide(description))};
    QString why;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &text)) {
        const DWORD error = GetLastError();
        why = refusal(tr("описание службы"), error);
    } else if (!setFailureActions(service)) {
        const DWORD error = GetLastError();
        why = refusal(tr("перезапуск службы после сбоя"), error);
    }
    if (why.isEmpty() && !EventLogSink::registerSource(name, program, &why))
        why = tr("источник журнала событий: %1").arg(why);
    if (!why.isEmpty()) {
        // All or nothing: a service half set up is taken away again.
        DeleteService(service);
        *message = tr("служба %1 не установлена: %2").arg(name, why);
        return ServiceProgram::Failed;
    }
    *message = tr("служба %1 установлена: папка %2, автозапуск; запустить сейчас: sc start %1")
                   .arg(name, QDir::toNativeSeparators(folder));
    if (!setFailureActionsOnError(service))
        *message += QLatin1Char('\n') + tr("диспетчер служб перезапустит её только после аварийного завершения");
    return ServiceProgram::Ok;
}

int ServiceRegistration::uninstall(QString *message)
{
    const QString name = WindowsService::name();
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        const DWORD error = GetLastError();
        *message = refusal(tr("диспетчер служб"), error);
        return ServiceProgram::Failed;
    }
    ServiceHandle service(OpenServiceW(manager, wide(name), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_SERVICE_DOES_NOT_EXIST;
        *message = missing ? tr("служба %1 не установлена").arg(name) : refusal(tr("служба %1").arg(name), error);
        QString why;
        // A source left by a removal that failed half-way goes too.
        if (missing)
            EventLogSink::removeSource(name, &why);
        return ServiceProgram::Failed;
    }
    // Stopped first: a service removed while it runs stays until it stops. Its process is waited
    // for too, which ends a moment after it said it stopped: an uninstaller deletes its program
    // right after this.
    QElapsedTimer waited;
    waited.start();
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    HANDLE process = nullptr;
    bool asked = false;
    while (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof status, &size)
           && status.dwCurrentState != SERVICE_STOPPED && waited.elapsed() < StopWaitMs) {
        if (!process && status.dwProcessId)
            process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
        if (status.dwCurrentState == SERVICE_RUNNING && !asked) {
            SERVICE_STATUS ignored = {};
            asked = ControlService(service, SERVICE_CONTROL_STOP, &ignored);
        }
        Sleep(50);
    }
    const bool stopped = status.dwCurrentState == SERVICE_STOPPED
                         && (!process || WaitForSingleObject(process, DWORD(qMax<qint64>(0, StopWaitMs - waited.elapsed())))
                                             == WAIT_OBJECT_0);
    if (process)
        CloseHandle(process);
    const DWORD deleted = DeleteService(service) ? DWORD(ERROR_SUCCESS) : GetLastError();
    if (deleted != ERROR_SUCCESS && deleted != ERROR_SERVICE_MARKED_FOR_DELETE) {
        *message = refusal(tr("служба %1 не удалена").arg(name), deleted);
        return ServiceProgram::Failed;
    }
    QString why;
    if (!EventLogSink::removeSource(name, &why)) {
        *message = tr("служба %1 удалена, но не её источник журнала событий: %2").arg(name, why);
        return ServiceProgram::Failed;
    }
    if (!stopped) {
        *message = tr("служба %1 не остановилась за %2 с: она будет удалена, когда остановится")
                       .arg(name)
                       .arg(StopWaitMs / 1000);
        return ServiceProgram::Failed;
    }
    *message = tr("служба %1 остановлена и удалена; папка и её pipes.json остались").arg(name);
    return ServiceProgram::Ok;
}
