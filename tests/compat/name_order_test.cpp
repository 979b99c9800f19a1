// The order NTFS lists names in, for names held as bytes in a locale's
// charset, and the upper-case table it compares them by.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compat/name_order_posix.h"
#include "support.h"

namespace {

using Names = std::vector<std::string>;

Names sorted(Names names, const char* charset = "UTF-8")
{
    const compat::NameKeys keyOf(charset);
    std::sort(names.begin(), names.end(),
              [&](const std::string& a, const std::string& b) { return keyOf(a) < keyOf(b); });
    return names;
}

Names encoded(const Names& utf8, const char* charset)
{
    Names out;
    for (const std::string& name : utf8)
        out.push_back(support::convert(name, "UTF-8", charset));
    return out;
}

TEST(NameOrder, CyrillicComparesInUpperCaseWithYoBeforeA)
{
    // Ё is U+0401, before А (U+0410): ё upper-cased comes first too.
    const Names ntfs = {"ёж", "Ёлка", "арбуз", "море", "Ночь", "Яблоко", "яма"};
    EXPECT_EQ(sorted({"Ночь", "яма", "море", "Ёлка", "Яблоко", "арбуз", "ёж"}), ntfs);
    // A locale in another charset decodes its own bytes to the same order.
    for (const char* charset : {"CP1251", "KOI8-R"}) {
        SCOPED_TRACE(charset);
        EXPECT_EQ(sorted(encoded({"Ночь", "яма", "море", "Ёлка", "Яблоко", "арбуз", "ёж"}, charset), charset),
                  encoded(ntfs, charset));
    }
}

TEST(NameOrder, LatinAndGreekCompareByTheirUpperCaseCodeUnits)
{
    // É (U+00C9) comes after Z; ß has no one-letter upper case and stays
    // U+00DF, after S; names equal in upper case are ordered by their bytes.
    EXPECT_EQ(sorted({"École", "Zebra", "straße", "eclair", "Strasse", "éa", "STRASSE"}),
              (Names{"eclair", "STRASSE", "Strasse", "straße", "Zebra", "éa", "École"}));
    // Final sigma upper-cases to Σ; a name that is the start of another
    // comes first.
    EXPECT_EQ(sorted({"ωμέγα", "Σίγμα", "βήτα", "ς", "Άλφα"}), (Names{"Άλφα", "βήτα", "ς", "Σίγμα", "ωμέγα"}));
}

TEST(NameOrder, CharactersBeyondTheBmpCompareAsTheirSurrogates)
{
    // 😀 (U+1F600) is D83D DE00: after 中 (U+4E2D), before the fullwidth Ａ
    // (U+FF21), which a comparison of code points would put first.
    EXPECT_EQ(sorted({"ａ", "😀", "中", "a"}), (Names{"a", "中", "😀", "ａ"}));
}

TEST(NameOrder, NamesThatDoNotDecodeComeLastInByteOrder)
{
    // A lone byte, an overlong "/", an encoded surrogate, a cut sequence.
    const std::string lone = "\xff.wav", overlong = "\xc0\xaf.wav", surrogate = "\xed\xa0\x80.wav", cut = "\xd0";
    EXPECT_EQ(sorted({lone, "я.wav", overlong, surrogate, cut, "z.wav"}),
              (Names{"z.wav", "я.wav", overlong, cut, surrogate, lone}));
    // Byte 0x98 is no character in Windows-1251.
    EXPECT_EQ(sorted({"\x98", "\xdf", "b"}, "CP1251"), (Names{"b", "\xdf", "\x98"}));
}

TEST(NameOrder, AsciiPunctuationBetweenZAndACountsAfterTheLetters)
{
    EXPECT_EQ(sorted({"a_", "Z", "ab", "a", "A", "_"}), (Names{"A", "a", "ab", "a_", "Z", "_"}));
    // The C locale's charset is ASCII: its names are read as UTF-8.
    EXPECT_EQ(sorted({"яма", "Ёлка", "a_", "ab"}, "ANSI_X3.4-1968"), (Names{"ab", "a_", "Ёлка", "яма"}));
}

TEST(NameOrder, TheUpperCaseTableIsUnicodesSimpleMapping)
{
    std::ifstream data("/usr/share/unicode/UnicodeData.txt");
    if (!data)
        GTEST_SKIP() << "needs Unicode's UnicodeData.txt (apt-get install unicode-data)";
    std::vector<char16_t> expected(0x10000);
    for (std::size_t unit = 0; unit < expected.size(); ++unit)
        expected[unit] = static_cast<char16_t>(unit);
    for (std::string line; std::getline(data, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, ';');)
            fields.push_back(field);
        const unsigned long code = std::stoul(fields[0], nullptr, 16);
        if (code < expected.size() && fields.size() > 12 && !fields[12].empty())
            expected[code] = static_cast<char16_t>(std::stoul(fields[12], nullptr, 16));
    }
    std::size_t wrong = 0;
    for (std::size_t unit = 0; unit < expected.size(); ++unit)
        if (compat::upperCase(static_cast<char16_t>(unit)) != expected[unit] && ++wrong <= 5)
            ADD_FAILURE() << "U+" << std::hex << unit << " maps to " << compat::upperCase(static_cast<char16_t>(unit));
    EXPECT_EQ(wrong, 0u);
}

}  // namespace
