#include "compat/charset_posix.h"

namespace compat {

std::string normalizedCharset(const char* charset)
{
    std::string name;
    for (const char* p = charset; p != nullptr && *p != '\0'; ++p) {
        if (*p == '-' || *p == '_')
            continue;
        name += (*p >= 'a' && *p <= 'z') ? static_cast<char>(*p - 'a' + 'A') : *p;
    }
    return name;
}

bool isAsciiOnly(const std::string& normalized)
{
    return normalized.empty() || normalized == "ANSIX3.41968" || normalized == "ASCII" || normalized == "USASCII";
}

std::size_t utf8Character(const char* bytes, std::size_t left, char32_t& code)
{
    if (left == 0)
        return 0;
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    const std::size_t trailing = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (trailing == 0 || lead > 0xF4 || trailing >= left)
        return 0;
    code = lead & (0x3F >> trailing);
    for (std::size_t i = 1; i <= trailing; ++i) {
        const auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < smallest[trailing] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return trailing + 1;
}

}  // namespace compat
