// The charset of the locale the program selected, as the POSIX compat files
// need it: the message text is written in it, and file names decoded from it.
#pragma once

#include <iconv.h>

#include <string>

namespace compat {

// The charset's name without case, dashes and underscores ("windows-1251"
// and "CP1251" both give "CP1251", "utf-8" gives "UTF8").
std::string normalizedCharset(const char* charset);

// Whether names (of files, and as terminals show them) are read as UTF-8 in
// the charset: UTF-8 itself, or one with nothing beyond ASCII (the C and
// POSIX locales), where terminals and file names are taken to be UTF-8.
bool namesAreUtf8(const std::string& normalized);

// What iconv_open yields when it cannot convert, and "no converter".
inline const iconv_t noConverter = reinterpret_cast<iconv_t>(-1);

}  // namespace compat
