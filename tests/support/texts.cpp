#include "support/texts.h"

#include <iconv.h>
#include <stdexcept>
#include <vector>

namespace support {

std::string startupText(int seconds, bool hint, int count)
{
    std::string text = "\nЕсли только что был слышен системный звук, значит все работает.";
    text += "\nРеплики будут звучать каждые " + std::to_string(seconds) + " секунд.";
    if (hint)
        text += " Задать интервал (в секундах) можно параметром командной строки.";
    text += "\nВсего реплик " + std::to_string(count) + ".";
    text += "\nОтрегулировать громкость голоса можно в \"Микшере громкости\" (динамик в трее).";
    text += "\nЗавершение программы - по Ctrl+C.";
    text += "\n\nHave a nice dream!";
    return text;
}

std::string toWindows1251(const std::string& utf8)
{
    iconv_t converter = iconv_open("CP1251", "UTF-8");
    std::string out(utf8.size(), '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1))
        throw std::runtime_error("text not in Windows-1251");
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace support
