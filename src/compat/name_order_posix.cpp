#include "compat/name_order_posix.h"

#include <algorithm>
#include <iterator>

#include "compat/charset_posix.h"
#include "compat/upper_case_table.h"
#include "utf8.h"

namespace compat {

namespace {

void appendUtf16(char32_t code, std::u16string& units)
{
    if (code < 0x10000) {
        units += static_cast<char16_t>(code);
    } else {
        code -= 0x10000;
        units += static_cast<char16_t>(0xD800 | (code >> 10));
        units += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    }
}

// Strict UTF-8 (see utf8::character).
bool decodeUtf8(const std::string& bytes, std::u16string& units)
{
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t code = 0;
        const std::size_t length = utf8::character(bytes.data() + i, bytes.size() - i, code);
        if (length == 0)
            return false;
        appendUtf16(code, units);
        i += length;
    }
    return true;
}

}  // namespace

char16_t upperCase(char16_t unit)
{
    using upperCaseTable::Run;
    const Run* run = std::upper_bound(std::begin(upperCaseTable::runs), std::end(upperCaseTable::runs), unit,
                                      [](char16_t u, const Run& r) { return u < r.first; });
    if (run == std::begin(upperCaseTable::runs))
        return unit;
    --run;
    if (unit > run->last || (unit - run->first) % run->step != 0)
        return unit;
    return static_cast<char16_t>(unit + run->delta);
}

bool operator<(const NameKey& a, const NameKey& b)
{
    if (a.decoded != b.decoded)
        return a.decoded;
    if (a.decoded && a.upperUnits != b.upperUnits)
        return a.upperUnits < b.upperUnits;
    return a.bytes < b.bytes;
}

NameKeys::NameKeys(const char* charset) : converter_(noConverter)
{
    const std::string name = normalizedCharset(charset);
    if (!namesAreUtf8(name))
        converter_ = iconv_open("UTF-16LE", charset);
}

NameKeys::~NameKeys()
{
    if (converter_ != noConverter)
        iconv_close(converter_);
}

bool NameKeys::decode(const std::string& name, std::u16string& units) const
{
    if (converter_ == noConverter)
        return decodeUtf8(name, units);
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(name.data());
    std::size_t inLeft = name.size();
    // No charset a locale uses takes more than two UTF-16 units a byte.
    std::string out(4 * name.size(), '\0');
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t failed = static_cast<std::size_t>(-1);
    if (iconv(converter_, &in, &inLeft, &outPtr, &outLeft) == failed || inLeft != 0
        || iconv(converter_, nullptr, nullptr, &outPtr, &outLeft) == failed)
        return false;
    for (std::size_t i = 0; i + 1 < out.size() - outLeft; i += 2)
        units +=
            static_cast<char16_t>(static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8);
    return true;
}

NameKey NameKeys::operator()(const std::string& name) const
{
    NameKey key;
    key.bytes = name;
    key.decoded = decode(name, key.upperUnits);
    if (!key.decoded)
        key.upperUnits.clear();
    for (char16_t& unit : key.upperUnits)
        unit = upperCase(unit);
    return key;
}

}  // namespace compat
