// The messages' charset, against iconv: the table the terminal output is
// made from, and the conversion the compiler makes of the texts.

#include <gtest/gtest.h>

#include <string>

#include "support.h"
#include "windows1251.h"

namespace {

TEST(Windows1251, TheTableAndTheCompileTimeConversionAgreeWithIconv)
{
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
        if (byte == 0x98)
            continue;  // no character
        const std::string utf32 = support::convert(std::string(1, static_cast<char>(byte)), "CP1251", "UTF-32LE");
        ASSERT_EQ(utf32.size(), 4u) << "byte " << byte;
        char32_t code = 0;
        for (int i = 3; i >= 0; --i)
            code = (code << 8) | static_cast<unsigned char>(utf32[static_cast<std::size_t>(i)]);
        EXPECT_EQ(windows1251::upperHalf[byte - 0x80], code) << "byte " << byte;
        EXPECT_EQ(windows1251::encode(code), static_cast<char>(byte)) << "byte " << byte;
    }

#define LETTERS "Ёё АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ абвгдежзийклмнопрстуфхцчшщъыьэюя «№ – —» %d \"\n"
    constexpr auto converted = windows1251::fromUtf8(LETTERS);
    EXPECT_EQ(std::string(converted.bytes), support::toWindows1251(LETTERS));
#undef LETTERS
}

}  // namespace
