#include "pipeaccess.h"

#include "systemerror.h"

#include <windows.h>
#include <sddl.h>

namespace {

// The process's own account as a SID string, or empty.
QString ownAccount()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return QString();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(int(size), '\0');
    QString sid;
    wchar_t *text = nullptr;
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)
        && ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &text)) {
        sid = QString::fromWCharArray(text);
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

} // namespace

QString PipeAccess::descriptor()
{
    // Network logons are denied first, whoever they are; then full access for SYSTEM, the
    // administrators, and the account we run as where it is neither. Protected: nothing inherited.
    QString sddl = QStringLiteral("D:P(D;;FA;;;NU)(A;;FA;;;SY)(A;;FA;;;BA)");
    const QString own = ownAccount();
    if (!own.isEmpty() && own != QLatin1String("S-1-5-18"))
        sddl += QStringLiteral("(A;;FA;;;%1)").arg(own);
    return sddl;
}

bool PipeAccess::claim(const QString &serverName, QString *why)
{
    release();
    const QString prefix = QStringLiteral("\\\\.\\pipe\\");
    const QString path = serverName.startsWith(prefix) ? serverName : prefix + serverName;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(reinterpret_cast<const wchar_t *>(descriptor().utf16()),
                                                              SDDL_REVISION_1, &security, nullptr)) {
        *why = tr("права канала %1 не заданы: %2").arg(path, SystemError::last());
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    // The mode, the type and the number of instances are those QLocalServer gives its own
    // instances: a pipe's instances must agree on them.
    HANDLE pipe = CreateNamedPipeW(reinterpret_cast<const wchar_t *>(path.utf16()),
                                   PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 0, 0, 3000,
                                   &attributes);
    const DWORD error = GetLastError();
    LocalFree(security);
    if (pipe == INVALID_HANDLE_VALUE) {
        *why = error == ERROR_ACCESS_DENIED ? tr("канал %1 уже занят другим процессом").arg(path)
                                            : tr("канал %1 не открыт: %2").arg(path, SystemError::text(error));
        return false;
    }
    m_handle = pipe;
    return true;
}

void PipeAccess::release()
{
    if (m_handle) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
}
