// Message text on Windows. A console shows it through the wide-character
// API, converted from Windows-1251, so it reads right whatever the console's
// code page; redirected to a file or a pipe, the Windows-1251 bytes go out
// unchanged (as text, with the C runtime's line endings).

#include "compat/console.h"

#include <io.h>
#include <vector>

#include "compat/win32.h"

void writeMessage(std::FILE* stream, const char* text)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        std::fputs(text, stream);
        return;
    }
    const int length = MultiByteToWideChar(1251, 0, text, -1, nullptr, 0);
    if (length <= 1) {
        std::fputs(text, stream);
        return;
    }
    std::vector<wchar_t> wide(static_cast<std::size_t>(length));
    MultiByteToWideChar(1251, 0, text, -1, wide.data(), length);
    // Whatever the stream still buffers comes first.
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(length - 1), &written, nullptr);
}

void writeNative(std::FILE* stream, const char* text)
{
    std::fputs(text, stream);
}
