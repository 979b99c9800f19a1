// Message text in the charset of the locale selected at start-up.
// Windows-1251 locales get the bytes unchanged; UTF-8 locales get UTF-8;
// other Cyrillic charsets (KOI8-R, ISO-8859-5, ...) get the text converted;
// a charset with no Cyrillic (the C/POSIX locale among them) gets UTF-8,
// which is what terminals show. UTF-8 comes from a table here, so a message
// written when memory has run out still reads right. Writes to standard
// error wait while the sound layer has it pointed away from the terminal.

#include "compat/console.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <mutex>
#include <string>

#include "compat/charset_posix.h"
#include "compat/quiet_posix.h"
#include "windows1251.h"

namespace {

void writeUtf8(std::FILE* stream, const char* text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        if (*p < 0x80) {
            std::fputc(*p, stream);
            continue;
        }
        const unsigned code = windows1251::upperHalf[*p - 0x80];
        if (code < 0x800) {
            std::fputc(static_cast<int>(0xC0 | (code >> 6)), stream);
        } else {
            std::fputc(static_cast<int>(0xE0 | (code >> 12)), stream);
            std::fputc(static_cast<int>(0x80 | ((code >> 6) & 0x3F)), stream);
        }
        std::fputc(static_cast<int>(0x80 | (code & 0x3F)), stream);
    }
}

// Converts text to the converter's charset; false when it cannot hold one of
// the characters (or conversion fails otherwise).
bool convert(iconv_t converter, const char* text, std::string& out)
{
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text);
    std::size_t inLeft = std::strlen(text);
    char buffer[256];
    out.clear();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t done = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG)
            return false;
    }
    return true;
}

const iconv_t noConverter = reinterpret_cast<iconv_t>(-1);

enum class Output { Unchanged, Utf8, Converted };

struct Target {
    Output output = Output::Utf8;
    iconv_t converter = noConverter;
};

// Chosen on first use, when the locale of the run is already in force.
const Target& target()
{
    static const Target chosen = [] {
        Target t;
        const char* charset = nl_langinfo(CODESET);
        const std::string name = compat::normalizedCharset(charset);
        if (name == "CP1251" || name == "WINDOWS1251") {
            t.output = Output::Unchanged;
        } else if (name != "UTF8" && !name.empty()) {
            t.converter = iconv_open(charset, "CP1251");
            if (t.converter != noConverter)
                t.output = Output::Converted;
        }
        return t;
    }();
    return chosen;
}

// Holds standard error for a write to it; nothing for other streams.
std::unique_lock<std::mutex> holdForWrite(std::FILE* stream)
{
    std::unique_lock<std::mutex> guard(compat::standardErrorLock(), std::defer_lock);
    if (stream == stderr)
        guard.lock();
    return guard;
}

}  // namespace

void writeMessage(std::FILE* stream, const char* text)
{
    const Target& t = target();
    const std::unique_lock<std::mutex> guard = holdForWrite(stream);
    if (t.output == Output::Unchanged) {
        std::fputs(text, stream);
        return;
    }
    std::string converted;
    if (t.output == Output::Converted && convert(t.converter, text, converted)) {
        std::fwrite(converted.data(), 1, converted.size(), stream);
        return;
    }
    writeUtf8(stream, text);
}

void writeNative(std::FILE* stream, const char* text)
{
    const std::unique_lock<std::mutex> guard = holdForWrite(stream);
    std::fputs(text, stream);
}
