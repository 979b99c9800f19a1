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

bool namesAreUtf8(const std::string& normalized)
{
    return normalized == "UTF8" || normalized.empty() || normalized == "ANSIX3.41968" || normalized == "ASCII"
           || normalized == "USASCII";
}

}  // namespace compat
