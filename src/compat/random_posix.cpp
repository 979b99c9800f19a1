// The Windows C runtime's srand and rand, with a state of their own that no
// other code in the process reaches.

#include "compat/crt.h"

#include <cstdint>

namespace {
std::uint32_t state = 1;  // the C runtime's state before any srand
}

void crt::srand(unsigned seed)
{
    state = seed;
}

int crt::rand()
{
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7fff);
}
