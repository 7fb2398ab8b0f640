#include "eventlogsink.h"

#include "systemerror.h"

#include <QDir>

#include <windows.h>

namespace {

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

} // namespace

EventLogSink::EventLogSink(const QString &source)
    : m_handle(RegisterEventSourceW(nullptr, wide(source)))
{
}

EventLogSink::~EventLogSink()
{
    if (m_handle)
        DeregisterEventSource(m_handle);
}

void EventLogSink::write(const QString &line)
{
    if (!m_handle)
        return;
    const QString text = clip(line);
    const wchar_t *strings[] = {wide(text)};
    ReportEventW(m_handle, EVENTLOG_INFORMATION_TYPE, 0, MessageId, nullptr, 1, 0, strings, nullptr);
}

QString EventLogSink::clip(const QString &line)
{
    if (line.size() <= MaxChars)
        return line;
    int keep = MaxChars - 1;
    // Never half of a character that takes two.
    if (line.at(keep - 1).isHighSurrogate())
        --keep;
    return line.left(keep) + QChar(0x2026);
}

QString EventLogSink::sourceKey(const QString &source)
{
    return QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + source;
}

bool EventLogSink::registerSource(const QString &source, const QString &messageFile, QString *why)
{
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(sourceKey(source)), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr);
    if (result == ERROR_SUCCESS) {
        const QString file = QDir::toNativeSeparators(messageFile);
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        result = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(wide(file)),
                                DWORD((file.size() + 1) * sizeof(wchar_t)));
        if (result == ERROR_SUCCESS)
            result = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&types),
                                    sizeof types);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) {
        *why = QStringLiteral("HKEY_LOCAL_MACHINE\\%1: %2").arg(sourceKey(source), SystemError::text(DWORD(result)));
        return false;
    }
    return true;
}

bool EventLogSink::removeSource(const QString &source, QString *why)
{
    const LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, wide(sourceKey(source)));
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        *why = QStringLiteral("HKEY_LOCAL_MACHINE\\%1: %2").arg(sourceKey(source), SystemError::text(DWORD(result)));
        return false;
    }
    return true;
}
