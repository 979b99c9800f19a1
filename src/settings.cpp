#include "settings.h"

#include <climits>
#include <cstdint>

static_assert(sizeof(int) == 4, "the run values are 32-bit integers");

int readWholeNumber(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');

    // Accumulate the magnitude, stopping once it is past the 32-bit range:
    // more digits cannot bring it back.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    std::int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= limit)
            magnitude = magnitude * 10 + (*p - '0');
    }
    if (magnitude > limit)
        magnitude = limit;
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int readIntervalMs(int argCount, char** argValues)
{
    if (argCount != 2)
        return defaultIntervalMs;
    // Multiply in unsigned arithmetic, where wrapping is defined; the
    // conversion back gives the two's-complement result.
    const std::uint32_t product = static_cast<std::uint32_t>(readWholeNumber(argValues[1])) * 1000u;
    return static_cast<int>(product);
}
