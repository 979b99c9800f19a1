// Message text on the console.
#pragma once

#include <cstddef>
#include <cstdio>

// The longest folder or file name a message shows, in bytes.
constexpr std::size_t longestName = 4096;

// Writes a message to stream whole, in one write where the stream allows:
// text held in Windows-1251, converted so that the reader sees the same
// characters (see the platform's implementation). With a name, the message
// is text, the name, then after: the name as the file system has it, in
// the system's own charset, with each character that the terminal would
// take as a control shown as \xHH.
void writeMessage(std::FILE* stream, const char* text, const char* name = nullptr, const char* after = "");
