// The Win32 last-error value on POSIX systems: one per thread, as on Windows.

#include "compat/win32.h"

namespace {
thread_local DWORD lastError = 0;
}

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD dwErrCode)
{
    lastError = dwErrCode;
}
