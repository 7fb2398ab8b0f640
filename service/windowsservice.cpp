#include "windowsservice.h"

#include "eventlogsink.h"
#include "serviceoptions.h"
#include "serviceprogram.h"
#include "stoprequests.h"
#include "systemerror.h"

#include <windows.h>

namespace {

enum class Start { Console, Managed, Broken };

// Shared by the main thread, the dispatcher's thread and ServiceMain's thread: each field is
// written before the event that tells the other thread it is there.
struct Manager
{
    HANDLE decided = nullptr;
    HANDLE finished = nullptr;
    Start start = Start::Console;
    SERVICE_STATUS_HANDLE status = nullptr;
    DWORD error = 0;
    DWORD checkPoint = 0;
};

Manager g_manager;

const wchar_t kName[] = L"VantrelVComService";

// The manager waits this long for the next state before it counts the service as hung.
const DWORD kStartHintMs = 10000;
const DWORD kStopHintMs = 3000;

void report(DWORD state, int code = 0, DWORD hintMs = 0)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    // A stop is taken only once the service runs: before that, StopRequests is not there to
    // take it, and after it the stop is on its way.
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    if (code != 0) {
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = DWORD(code);
    }
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? ++g_manager.checkPoint : 0;
    status.dwWaitHint = hintMs;
    SetServiceStatus(g_manager.status, &status);
}

DWORD WINAPI onControl(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        StopRequests::post(StopRequests::ServiceStop);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// In a thread the dispatcher makes. It holds the service until the main thread's run ends: the
// dispatcher returns once every service of the process has stopped.
void WINAPI serviceMain(DWORD, LPWSTR *)
{
    g_manager.status = RegisterServiceCtrlHandlerExW(kName, onControl, nullptr);
    if (!g_manager.status) {
        g_manager.error = GetLastError();
        g_manager.start = Start::Broken;
        SetEvent(g_manager.decided);
        return;
    }
    report(SERVICE_START_PENDING, 0, kStartHintMs);
    g_manager.start = Start::Managed;
    SetEvent(g_manager.decided);
    WaitForSingleObject(g_manager.finished, INFINITE);
}

DWORD WINAPI dispatch(LPVOID)
{
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t *>(kName), serviceMain}, {nullptr, nullptr}};
    // Fails at once where no manager started us (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) on
    // Windows; Wine's waits for the pipe of the service it started last, which is why only
    // --service brings us here.
    if (!StartServiceCtrlDispatcherW(table))
        SetEvent(g_manager.decided);
    return 0;
}

} // namespace

QString WindowsService::name()
{
    return QString::fromWCharArray(kName);
}

int WindowsService::run(const ServiceOptions &options, QString *why)
{
    g_manager.decided = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_manager.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE dispatcher = CreateThread(nullptr, 0, dispatch, nullptr, 0, nullptr);
    if (dispatcher)
        WaitForSingleObject(g_manager.decided, INFINITE);
    int code = ServiceProgram::CannotRun;
    if (!dispatcher || g_manager.start == Start::Console) {
        *why = tr("--service: её запускает диспетчер служб Windows; в консоли запускайте без --service");
    } else if (g_manager.start == Start::Broken) {
        *why = tr("диспетчер служб не принял её обработчик: %1").arg(SystemError::text(g_manager.error));
    } else {
        EventLogSink eventLog(name());
        ServiceHooks hooks;
        hooks.log = [&eventLog](const QString &line) { eventLog.write(line); };
        hooks.running = [] { report(SERVICE_RUNNING); };
        hooks.stopping = [] { report(SERVICE_STOP_PENDING, 0, kStopHintMs); };
        code = ServiceProgram::runService(options, hooks);
        // The last word: the manager may end the process as soon as it has it.
        report(SERVICE_STOPPED, code);
    }
    SetEvent(g_manager.finished);
    if (dispatcher) {
        WaitForSingleObject(dispatcher, INFINITE);
        CloseHandle(dispatcher);
    }
    CloseHandle(g_manager.decided);
    CloseHandle(g_manager.finished);
    return code;
}
