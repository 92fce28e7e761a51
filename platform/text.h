#pragma once

#include <string>
#include <string_view>

// Text is UTF-8 everywhere in the core: file names on Linux are byte strings, and UTF-8 carries them
// (and every user-interface text) unchanged. The helpers here work on code points where the system
// works "character by character"; invalid sequences read as U+FFFD and never stop a loop.
namespace platform {

// Reads the code point at `position` and moves `position` past it (at least one byte).
char32_t DecodeUtf8(std::string_view text, size_t& position);
void AppendUtf8(std::string& out, char32_t codePoint);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Simple one-to-one lower-casing of a code point (the C.UTF-8 tables; ASCII when they are missing).
char32_t ToLowerChar(char32_t codePoint);
std::string ToLowerText(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Compares the runs of ASCII digits that start at a[i] and b[j] by numeric value (leading zeros ignored,
// any length, no overflow) and moves i and j past them. Returns <0, 0 or >0.
int CompareDigitRuns(std::string_view a, size_t& i, std::string_view b, size_t& j);

// The shell's "logical" order for names: runs of ASCII digits compare by numeric value (leading zeros
// ignored, then the shorter run first), everything else compares case-insensitively by code point.
// Digit runs of any length compare without overflow. Returns <0, 0 or >0.
int LogicalCompare(std::string_view a, std::string_view b);

} // namespace platform
