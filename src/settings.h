// The run settings taken from the command line.
#pragma once

// The interval used when no single argument sets one: five minutes.
constexpr int defaultIntervalMs = 300000;

// The wait before each line, in milliseconds. With exactly one argument
// (argCount 2) it is that argument's number of seconds times 1000, the
// product wrapping in 32-bit two's complement; otherwise the default.
int readIntervalMs(int argCount, char** argValues);

// The argument's number read by the atoi rule: leading white space, an
// optional sign, decimal digits up to the first other character, no digits
// giving 0. Values beyond the 32-bit range saturate at its ends.
int readWholeNumber(const char* text);
