#pragma once
// The PLU file parser: one file of article, ingredient and delete records (fields separated by
// ";", code page 866 or 1251) becomes the accepted articles, one error per rejected line and the
// warnings for ingredient text that found no article. Every line is examined; nothing stops at
// the first bad one, so one pass lists every problem of a file.

#include "core/Types/Types.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace Plumeria {

/// Highest article number a PLU file may use.
inline constexpr std::int32_t MaxPluNumber = 999997;
/// Longest accepted article name, in UTF-16 code units.
inline constexpr std::size_t MaxPluNameLength = 80;

/// Raised by `ParsePluFile` when the file cannot be read at all (missing, locked, a folder, an
/// I/O error). The message names the file and the operating system's reason.
class TPluReadError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// 866 stays 866; every other value, 1251 included, gives 1251.
int NormalizeCodePage(int CodePage);

/// The price rule: "12,5" gives 1250, "12.345" gives 1235 (the third fraction character only
/// rounds). False, with `Cents` 0, for a text that is no price, and for an amount in hundredths
/// that does not fit a signed 64-bit integer.
bool TryParsePriceCents(std::string_view Text, std::int64_t& Cents);

/// Parses UTF-8 text that is already decoded. Empties `Result` first; never fails on any input.
void ParsePluText(std::string_view Text, TPluParseResult& Result);

/// Reads every byte of `FileName`, decodes it with `NormalizeCodePage(CodePage)` and parses it as
/// `ParsePluText` does. Throws `TPluReadError` when the file cannot be read; `Result` is then
/// left empty.
void ParsePluFile(const std::filesystem::path& FileName, int CodePage, TPluParseResult& Result);

} // namespace Plumeria
