// Windows-1251, the charset the messages are held in: its upper half as
// Unicode, and the conversion of UTF-8 literals made by the compiler, so the
// texts stay readable in the source under any compiler and its options.
#pragma once

#include <cstddef>

namespace windows1251 {

// Unicode code points of the bytes 0x80 to 0xFF (0x98 has none).
// clang-format off
constexpr char16_t upperHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // 0xB8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 0xC0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // 0xC8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 0xD0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // 0xD8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // 0xE0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // 0xE8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // 0xF0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // 0xF8
};
// clang-format on

// A text converted at compile time; never longer than its UTF-8 source.
template <std::size_t N>
struct Text {
    char bytes[N] = {};
};

// The byte of a code point. Called at compile time, a character the charset
// lacks stops the build (a throw is not a constant expression).
constexpr char encode(char32_t code)
{
    if (code < 0x80)
        return static_cast<char>(code);
    for (unsigned byte = 0; byte < 128; ++byte)
        if (upperHalf[byte] == code && code != 0xFFFD)
            return static_cast<char>(0x80 + byte);
    throw "character not in Windows-1251";
}

// UTF-8 (as the source is written) to Windows-1251. Use it to initialise a
// constexpr object, so that the conversion happens in the compiler.
template <std::size_t N>
constexpr Text<N> fromUtf8(const char (&utf8)[N])
{
    Text<N> text;
    std::size_t out = 0;
    for (std::size_t in = 0; in < N && utf8[in] != '\0';) {
        const auto lead = static_cast<unsigned char>(utf8[in]);
        int trailing = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        if (trailing < 0 || in + static_cast<std::size_t>(trailing) >= N)
            throw "malformed UTF-8";
        char32_t code = trailing == 0 ? lead : lead & (0x3F >> trailing);
        for (++in; trailing > 0; --trailing, ++in) {
            const auto next = static_cast<unsigned char>(utf8[in]);
            if ((next & 0xC0) != 0x80)
                throw "malformed UTF-8";
            code = (code << 6) | (next & 0x3F);
        }
        text.bytes[out++] = encode(code);
    }
    return text;
}

}  // namespace windows1251
