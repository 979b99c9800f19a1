// The charset of the locale the program selected, as the POSIX compat files
// need it: the message text is written in it, and file names decoded from it.
#pragma once

#include <cstddef>
#include <string>

namespace compat {

// The charset's name without case, dashes and underscores ("windows-1251"
// and "CP1251" both give "CP1251", "utf-8" gives "UTF8").
std::string normalizedCharset(const char* charset);

// Whether the charset has nothing beyond ASCII (the C and POSIX locales):
// terminals and file names are then taken to be UTF-8.
bool isAsciiOnly(const std::string& normalized);

// The UTF-8 character that bytes (left of them) start with: its length, with
// its code point in code; 0 when they start with none (a stray or missing
// continuation byte, an overlong form, a surrogate, a code point past
// U+10FFFF).
std::size_t utf8Character(const char* bytes, std::size_t left, char32_t& code);

}  // namespace compat
