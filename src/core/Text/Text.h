#pragma once
// Text helpers shared by every module: trimming, ASCII folding, UTF-16 lengths of UTF-8 text,
// the Cyrillic code pages 866 and 1251 in both directions, and the platform's integer reader.
// Core texts are UTF-8 std::string; limits counted "in characters" count UTF-16 code units.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// Removes every character with a code from 0 to 32 at both ends.
std::string Trim(std::string_view Text);
std::string_view TrimView(std::string_view Text);

/// Folds the ASCII letters A–Z (resp. a–z) only; every other byte stays as it is.
std::string AsciiLower(std::string_view Text);
std::string AsciiUpper(std::string_view Text);
bool SameTextAscii(std::string_view A, std::string_view B);

/// Splits at every `Separator`, keeping empty parts ("1.2." gives "1", "2", ""). The parts view
/// into `Text`.
std::vector<std::string_view> SplitText(std::string_view Text, char Separator);

/// Number of UTF-16 code units of a UTF-8 text (an invalid byte counts as one unit).
std::size_t Utf16Length(std::string_view Utf8);
/// The longest prefix of `Utf8` of at most `MaxUnits` UTF-16 code units; never splits a
/// character (a character that would need a surrogate pair is left out whole).
std::string Utf16Prefix(std::string_view Utf8, std::size_t MaxUnits);

bool IsValidUtf8(std::string_view Bytes);
std::u16string Utf8ToUtf16(std::string_view Utf8);
std::string Utf16ToUtf8(std::u16string_view Utf16);

/// Decodes single-byte text in code page 866 or 1251 (any other value means 1251) to UTF-8.
/// Byte 0x98, which has no character in 1251, decodes to U+0098 as the Windows converter does.
std::string DecodeCodePage(std::string_view Bytes, int CodePage);
/// Text that may hold lines of code page 1251 (written by older Windows tools, or a file name
/// that is not UTF-8) as UTF-8, line by line so that one stray byte costs only its own line: a line
/// that is valid UTF-8 stays as it is, any other is decoded as code page 1251.
std::string DecodeLinesUtf8Or1251(std::string_view Bytes);
/// Encodes UTF-8 text into code page 866 or 1251. Returns false, leaving `Out` unspecified and
/// `BadChar` set to the first character that has no byte in the code page, when one does not fit.
bool EncodeCodePage(std::string_view Utf8, int CodePage, std::string& Out,
                    char32_t* BadChar = nullptr);

/// The value 0–15 of a hexadecimal digit (0–9, A–F, a–f); -1 for any other character.
int HexDigitValue(char C);

/// The platform's standard integer reader: an optional sign, then decimal digits, or hexadecimal
/// digits after one of the prefixes $, x, X, 0x, 0X. Anything else (the empty text included), or
/// a value outside the 32-bit signed range, is not a number.
bool TryParseInt32(std::string_view Text, std::int32_t& Value);

} // namespace Plumeria
