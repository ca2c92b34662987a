#pragma once
// Reading the fields of an update file: hexadecimal numbers of a fixed
// maximum width and lines of at most 79 characters, as the stream-based
// reader of the original file format reads them.

#include <cstdio>
#include <string>

namespace devupdate::update {

// Leading white space is skipped, then at most `width` hexadecimal digits
// (either case) are taken; a sign or a "0x" prefix is not accepted. False
// when no digit could be read. The first character after the digits stays
// unread.
bool ReadHexField(FILE* file, int width, unsigned& value);

// Reads up to and including the next line end, at most 79 characters (the
// line end only where it fits). False at end of file before any character.
bool ReadTextLine(FILE* file, std::string& line);

constexpr int MAX_LINE_CHARS = 79;

}  // namespace devupdate::update
