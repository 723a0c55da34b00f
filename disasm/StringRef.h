// String-reference lines: the text of a zero-terminated string that an
// instruction points at, quoted from column 34, with "String Ref" at column 23
// so that the conversion files it under the instruction before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Shortest string taken for a reference; shorter runs are usually not text.
const size_t kMinStringChars = 4;

// Checks whether p[0..avail) starts a zero-terminated text (bytes, or UTF-16LE
// with characters below 0x100) of at least kMinStringChars characters, three
// quarters of them printable ASCII. If so, sets line to the whole string-reference line, CR LF
// included, at most 254 characters before the CR LF, and returns true.
// *bytes (when given) receives the string's size in bytes, terminator included.
bool AppendStringRefLine(const uint8_t* p, size_t avail, std::string& line, size_t* bytes = nullptr);

// Stricter than a string reference: whether the text at p (as found above,
// bytes long) reads like prose, so that it can be kept out of a code section
// without risk of hiding code. Code bytes seldom pass: all of the characters
// printable, at least eight, half of them lower-case letters or blanks.
bool LooksLikeProse(const uint8_t* p, size_t bytes);
