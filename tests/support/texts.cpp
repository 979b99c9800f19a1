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

std::string convert(const std::string& text, const char* from, const char* to)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("no conversion to ") + to);
    std::string out(4 * text.size(), '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1))
        throw std::runtime_error(std::string("text not in ") + to);
    out.resize(out.size() - outLeft);
    return out;
}

std::string toWindows1251(const std::string& utf8)
{
    return convert(utf8, "UTF-8", "CP1251");
}

}  // namespace support
