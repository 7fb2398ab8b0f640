#include "systemerror.h"

#include <windows.h>

QString SystemError::text(unsigned long code)
{
    wchar_t *buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const QString message = buffer ? QString::fromWCharArray(buffer).trimmed() : QString();
    LocalFree(buffer);
    return message.isEmpty() ? tr("ошибка %1").arg(code) : message;
}

QString SystemError::last()
{
    return text(GetLastError());
}
