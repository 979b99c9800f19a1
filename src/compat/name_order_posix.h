// The order in which NTFS lists a folder, for names that are bytes in the
// charset of the locale: each name decoded to UTF-16 code units (characters
// beyond the BMP as surrogate pairs), each unit mapped by Unicode's simple
// upper-case mapping, compared unit by unit. Names whose bytes do not decode
// come after all others, in byte order; names equal so far are ordered by
// their bytes, so the order is total.
#pragma once

#include <iconv.h>

#include <string>

namespace compat {

// Unicode's simple upper-case mapping of one UTF-16 code unit; surrogates
// and units without a mapping are returned unchanged.
char16_t upperCase(char16_t unit);

// What a name is sorted by.
struct NameKey {
    bool decoded = false;
    std::u16string upperUnits;  // when decoded
    std::string bytes;
};

bool operator<(const NameKey& a, const NameKey& b);

// Makes the keys of names in one charset (a locale's CODESET). UTF-8 is
// decoded here, strictly (no overlong forms, no surrogates); an ASCII-only
// charset (the C locale) is read as UTF-8, as terminals show such names;
// any other charset goes through iconv, and UTF-8 stands in for one that
// iconv does not know.
class NameKeys {
public:
    explicit NameKeys(const char* charset);
    ~NameKeys();
    NameKeys(const NameKeys&) = delete;
    NameKeys& operator=(const NameKeys&) = delete;

    NameKey operator()(const std::string& name) const;

private:
    bool decode(const std::string& name, std::u16string& units) const;
    iconv_t converter_;
};

}  // namespace compat
