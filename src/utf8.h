// UTF-8, read strictly: the message texts as the source holds them, and the
// names of files where they are read as UTF-8.
#pragma once

#include <cstddef>

namespace utf8 {

// The character that bytes (left of them) start with: its length, with its
// code point in code; 0 when they start with none (a stray or missing
// continuation byte, an overlong form, a surrogate, a code point past
// U+10FFFF).
constexpr std::size_t character(const char* bytes, std::size_t left, char32_t& code)
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

}  // namespace utf8
