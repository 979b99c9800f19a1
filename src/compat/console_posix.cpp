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

#include "compat/quiet_posix.h"

namespace {

// Unicode code points of the Windows-1251 bytes 0x80 to 0xFF (0x98 has none).
const unsigned short upperHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415,
    0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431,
    0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D,
    0x044E, 0x044F,
};

void writeUtf8(std::FILE* stream, const char* text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        if (*p < 0x80) {
            std::fputc(*p, stream);
            continue;
        }
        const unsigned code = upperHalf[*p - 0x80];
        if (code < 0x800) {
            std::fputc(static_cast<int>(0xC0 | (code >> 6)), stream);
        } else {
            std::fputc(static_cast<int>(0xE0 | (code >> 12)), stream);
            std::fputc(static_cast<int>(0x80 | ((code >> 6) & 0x3F)), stream);
        }
        std::fputc(static_cast<int>(0x80 | (code & 0x3F)), stream);
    }
}

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
        const std::string name = normalized(charset != nullptr ? charset : "");
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
