// The program's texts as the tests expect them.
#pragma once

#include <string>

namespace support {

// The program's start-up messages as a reader sees them (UTF-8), for the
// interval in seconds, with or without the hint, and the number of lines.
std::string startupText(int seconds, bool hint, int count);
// Text from one charset to another (iconv's names); throws when it cannot.
std::string convert(const std::string& text, const char* from, const char* to);
// UTF-8 text as Windows-1251 bytes.
std::string toWindows1251(const std::string& utf8);

}  // namespace support
