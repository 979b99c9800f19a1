// Locales for the tests: Debian ships only C.UTF-8 ready made, so the
// Russian ones are made by localedef into a folder of the test process.
#pragma once

#include <map>
#include <string>

namespace support {

// Makes a locale named language_TERRITORY.CHARSET ("ru_RU.CP1251") the
// first time it is asked for, and checks that programs can select it.
// Returns empty when they can, otherwise why not, for a test to skip with.
// C.UTF-8 and C are always there.
std::string makeLocale(const std::string& name);
// What a child's environment needs to run under that locale: LANG, and
// LOCPATH for one made here; the LC_ variables and LANGUAGE removed.
std::map<std::string, std::string> localeEnv(const std::string& name);

}  // namespace support
