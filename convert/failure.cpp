#include "failure.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace Tessaline {

int systemErrorOfLastCall(const QString &reason)
{
#ifdef Q_OS_WIN
    const DWORD error = GetLastError();
    return error != 0 && reason == qt_error_string(int(error)) ? windowsErrorToErrno(error) : 0;
#else
    const int error = errno;
    return error != 0 && reason == qt_error_string(error) ? error : 0;
#endif
}

QString errnoText(int error)
{
#ifdef Q_OS_WIN
    return QString::fromLocal8Bit(std::strerror(error));
#else
    return qt_error_string(error);
#endif
}

#ifdef Q_OS_WIN
int windowsErrorToErrno(unsigned long error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        // A sharing violation (the file open in another program) and the rest keep the
        // system's own words, which say more than "no permission" would.
        return 0;
    }
}
#endif

} // namespace Tessaline
