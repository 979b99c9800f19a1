// The part of the C runtime whose results the player relies on being the
// same on every system: the pseudo-random generator behind srand and rand.
// On Windows these are the C runtime's own functions. Elsewhere the compat
// layer gives the same sequence (state = state * 214013 + 2531011, result =
// (state >> 16) & 0x7fff), so one folder plays in one order on every build.
// The names live in a namespace: a global rand of the program would replace
// the C library's for every library in the process, and sound libraries draw
// from that generator on threads of their own.
#pragma once

#ifdef _WIN32
#include <cstdlib>

namespace crt {
using std::rand;
using std::srand;
}  // namespace crt
#else
namespace crt {
void srand(unsigned seed);
int rand();
}  // namespace crt
#endif
