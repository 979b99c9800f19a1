// Message text on Windows. A console shows it through the wide-character
// API, converted from Windows-1251 (the name from the ANSI code page), so it
// reads right whatever the console's code page; redirected to a file or a
// pipe, the bytes go out unchanged (as text, with the C runtime's line
// endings). Either way a message is written whole.

#include "compat/console.h"

#include <io.h>
#include <string>

#include "compat/win32.h"

namespace {

constexpr UINT messageCodePage = 1251;  // Windows-1251, the messages' charset

// The name with the characters a console acts on (C0 and DEL; the ANSI code
// pages have no C1 controls) shown as \xHH.
std::string shownName(const char* name)
{
    std::string shown;
    for (const char* p = name; *p != '\0' && p - name < static_cast<std::ptrdiff_t>(longestName); ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += *p;
        }
    }
    return shown;
}

void appendWide(std::wstring& out, UINT codePage, const std::string& text)
{
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(length));
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[start], length);
}

}  // namespace

void writeMessage(std::FILE* stream, const char* text, const char* name, const char* after)
{
    const std::string shown = name != nullptr ? shownName(name) : std::string();
    const std::string rest = name != nullptr ? after : "";
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        const std::string whole = text + shown + rest;
        std::fwrite(whole.data(), 1, whole.size(), stream);
        return;
    }
    std::wstring wide;
    appendWide(wide, messageCodePage, text);
    appendWide(wide, CP_ACP, shown);
    appendWide(wide, messageCodePage, rest);
    // Whatever the stream still buffers comes first.
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}
