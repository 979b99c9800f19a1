// Message text in the charset of the locale selected at start-up.
// Windows-1251 locales get the bytes unchanged; UTF-8 locales get UTF-8;
// other Cyrillic charsets (KOI8-R, ISO-8859-5, ...) get the text converted;
// a charset with no Cyrillic (the C/POSIX locale among them) gets UTF-8,
// which is what terminals show. A message is put together in a buffer of
// its own and written whole, so that messages of two processes sharing a
// terminal do not interleave; UTF-8 comes from a table here, so a message
// written when memory has run out still reads right.

#include "compat/console.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <string>
#include <unistd.h>

#include "compat/charset_posix.h"
#include "compat/quiet_posix.h"
#include "utf8.h"
#include "windows1251.h"

namespace {

// Standard input, output and error are the process's own: one that came
// closed is opened on /dev/null before anything else runs, or the first
// file a library opens would take its number and receive the messages.
//
// A pipe whose reader has gone (standard output read by a log reader that
// exited, `line_player 60 | head -n 2`, or the command ALSA's file plug-in
// writes to) would end the process with SIGPIPE at the next write: the
// signal is ignored, the write fails, as output that nothing examines may,
// and the night goes on.
__attribute__((constructor(101))) void makeStandardOutputsSafe()
{
    signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int none = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (none >= 0 && none != fd) {
            dup2(none, fd);
            close(none);
        }
    }
}

// A message being put together, in a buffer of its own (no allocation); what
// does not fit is left out.
struct Message {
    char bytes[4 * longestName + 1024];
    std::size_t size = 0;

    void append(const char* data, std::size_t length)
    {
        length = std::min(length, sizeof bytes - size);
        std::memcpy(bytes + size, data, length);
        size += length;
    }
    void append(char c) { append(&c, 1); }
};

void appendUtf8(Message& message, const char* text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        if (*p < 0x80) {
            message.append(static_cast<char>(*p));
            continue;
        }
        const unsigned code = windows1251::upperHalf[*p - 0x80];
        if (code < 0x800) {
            message.append(static_cast<char>(0xC0 | (code >> 6)));
        } else {
            message.append(static_cast<char>(0xE0 | (code >> 12)));
            message.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        }
        message.append(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Converts text to the converter's charset; false when it cannot hold one of
// the characters (or conversion fails otherwise).
bool appendConverted(Message& message, iconv_t converter, const char* text)
{
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text);
    std::size_t inLeft = std::strlen(text);
    const std::size_t start = message.size;
    char* out = message.bytes + message.size;
    std::size_t outLeft = sizeof message.bytes - message.size;
    if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) && errno != E2BIG) {
        message.size = start;
        return false;
    }
    message.size = sizeof message.bytes - outLeft;
    return true;
}

enum class Output { Unchanged, Utf8, Converted };

// How the terminal is written to; chosen on first use, when the locale of
// the run is already in force.
struct Target {
    Output output = Output::Utf8;
    iconv_t converter = compat::noConverter;
    bool utf8Names = true;  // names are read as UTF-8, not by the locale
};

const Target& target()
{
    static const Target chosen = [] {
        Target t;
        const char* charset = nl_langinfo(CODESET);
        const std::string name = compat::normalizedCharset(charset);
        t.utf8Names = compat::namesAreUtf8(name);
        if (name == "CP1251" || name == "WINDOWS1251") {
            t.output = Output::Unchanged;
        } else if (!t.utf8Names) {
            t.converter = iconv_open(charset, "CP1251");
            if (t.converter != compat::noConverter)
                t.output = Output::Converted;
        }
        return t;
    }();
    return chosen;
}

void appendText(Message& message, const char* text)
{
    const Target& t = target();
    if (t.output == Output::Unchanged)
        message.append(text, std::strlen(text));
    else if (t.output != Output::Converted || !appendConverted(message, t.converter, text))
        appendUtf8(message, text);
}

// The length of the character name starts with, or 0 when its bytes are no
// character of the charset names are read in; control tells whether it is
// one the terminal acts on (C0, DEL, C1).
std::size_t nextCharacter(const char* name, std::size_t left, bool& control)
{
    if (target().utf8Names) {
        char32_t code = 0;
        const std::size_t length = utf8::character(name, left, code);
        control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
        return length;
    }
    std::mbstate_t state{};
    wchar_t character = 0;
    const std::size_t length = std::mbrtowc(&character, name, left, &state);
    if (length == 0 || length > left)
        return 0;
    control = std::iswcntrl(static_cast<wint_t>(character)) != 0;
    return length;
}

void appendName(Message& message, const char* name)
{
    const std::size_t length = strnlen(name, longestName);
    for (std::size_t at = 0; at < length;) {
        bool control = false;
        const std::size_t character = nextCharacter(name + at, length - at, control);
        if (character > 0 && !control) {
            message.append(name + at, character);
            at += character;
            continue;
        }
        for (const std::size_t end = at + std::max<std::size_t>(character, 1); at < end; ++at) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(name[at]));
            message.append(escaped, 4);
        }
    }
}

}  // namespace

void writeMessage(std::FILE* stream, const char* text, const char* name, const char* after)
{
    Message message;
    appendText(message, text);
    if (name != nullptr) {
        appendName(message, name);
        appendText(message, after);
    }
    if (stream == stderr)
        compat::writeStandardError(message.bytes, message.size);
    else
        std::fwrite(message.bytes, 1, message.size, stream);
}
