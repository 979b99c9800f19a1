#include "support/locales.h"

#include <map>
#include <unistd.h>

#include "support/files.h"
#include "support/processes.h"

namespace support {

namespace {

bool madeHere(const std::string& name)
{
    return name != "C" && name != "C.UTF-8" && name != "POSIX";
}

const std::string& localeFolder()
{
    static const TempDir* folder = new TempDir;  // lives as long as the tests
    return folder->path();
}

}  // namespace

std::string makeLocale(const std::string& name)
{
    static std::map<std::string, std::string> made;  // name -> why not
    if (!madeHere(name))
        return "";
    const auto known = made.find(name);
    if (known != made.end())
        return known->second;
    std::string& whyNot = made[name];
    const std::size_t dot = name.find('.');
    if (access("/usr/bin/localedef", X_OK) != 0) {
        whyNot = "needs localedef to make the locale " + name + " (apt-get install locales)";
    } else if (dot == std::string::npos) {
        whyNot = "a locale to make is named language_TERRITORY.CHARSET, not " + name;
    } else {
        run({"/usr/bin/localedef", "-i", name.substr(0, dot), "-f", name.substr(dot + 1), localeFolder() + "/" + name},
            "/", {}, 60000);
        // localedef may leave an empty folder behind when it fails: the
        // locale is there once a program can select it.
        const Ending charmap = run({"/usr/bin/locale", "charmap"}, "/", localeEnv(name), 10000);
        if (charmap.out != name.substr(dot + 1) + "\n")
            whyNot = "localedef could not make the locale " + name + " (apt-get install locales)";
    }
    return whyNot;
}

std::map<std::string, std::string> localeEnv(const std::string& name)
{
    return {{"LC_ALL", ""},   {"LC_CTYPE", ""}, {"LC_MESSAGES", ""},
            {"LANGUAGE", ""}, {"LANG", name},   {"LOCPATH", madeHere(name) ? localeFolder() : ""}};
}

}  // namespace support
