// Message text in the charset of the locale selected at start-up.
// Windows-1251 locales get the bytes unchanged; UTF-8 and other Cyrillic
// charsets get the text converted; a charset with no Cyrillic (the C/POSIX
// locale among them) gets UTF-8, which is what terminals show.

#include "compat/console.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <string>

namespace {

const char sourceCharset[] = "CP1251";
const char fallbackCharset[] = "UTF-8";

// The charset name without case, dashes and underscores: "windows-1251" and
// "CP1251" both name Windows-1251.
std::string normalized(const char* charset)
{
    std::string name;
    for (const char* p = charset; *p != '\0'; ++p) {
        if (*p == '-' || *p == '_')
            continue;
        name += (*p >= 'a' && *p <= 'z') ? static_cast<char>(*p - 'a' + 'A') : *p;
    }
    return name;
}

bool isWindows1251(const char* charset)
{
    const std::string name = normalized(charset);
    return name == "CP1251" || name == "WINDOWS1251" || name == "MSCYRL";
}

// Converts text with the given converter; false when the target charset
// cannot hold one of its characters.
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
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    return true;
}

iconv_t const noConverter = reinterpret_cast<iconv_t>(-1);

struct Target {
    bool unchanged = false;
    iconv_t converter = noConverter;  // to the locale's charset
    iconv_t fallback = noConverter;   // to UTF-8
};

// Chosen on first use, when the locale of the run is already in force.
const Target& target()
{
    static const Target chosen = [] {
        Target t;
        const char* charset = nl_langinfo(CODESET);
        if (charset == nullptr || *charset == '\0')
            charset = fallbackCharset;
        t.unchanged = isWindows1251(charset);
        if (!t.unchanged) {
            t.converter = iconv_open(charset, sourceCharset);
            t.fallback = iconv_open(fallbackCharset, sourceCharset);
        }
        return t;
    }();
    return chosen;
}

}  // namespace

void writeMessage(std::FILE* stream, const char* text)
{
    const Target& t = target();
    if (t.unchanged) {
        std::fputs(text, stream);
        return;
    }
    std::string converted;
    if ((t.converter != noConverter && convert(t.converter, text, converted))
        || (t.fallback != noConverter && convert(t.fallback, text, converted))) {
        std::fwrite(converted.data(), 1, converted.size(), stream);
        return;
    }
    std::fputs(text, stream);
}
