#pragma once
// The DIGI article frame: one article record turned into the bytes a DIGI scale takes for its PLU
// file, or refused with a short English reason. Pure computation: no I/O, no state, no journal.
//
// Frame layout (offsets from the frame start, binary values big-endian, numbers packed BCD):
//   0 F1 | 1 25 | 2 PLU (8 digits) | 6 record length = frame length - 2 | 8 74 00 0D E0 | 12 11
//   13 price in cents (8 digits) | 17 11 05 | 19 item code: barcode + "0" (8 digits)
//   23 00 00 01 | 26 shelf life in hours (4 digits) | 28 00 00 | 30 name block | 0C
//   [02 length ingredients 0C] | 00 01 20 0C 00 00
// Texts go in as code page 866, one byte per character, refused when a character has no byte.

#include "core/Types/Types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// First byte of every frame this program sends to a DIGI scale.
inline constexpr std::uint8_t DigiCommandByte = 0xF1;
/// File bytes: articles, label formats, label texts.
inline constexpr std::uint8_t DigiPluFileByte = 0x25;
inline constexpr std::uint8_t DigiLabelFormatFileByte = 0x34;
inline constexpr std::uint8_t DigiLabelTextFileByte = 0x38;
/// The single byte with which a scale acknowledges a frame.
inline constexpr std::uint8_t DigiAck = 0x06;

/// Encodes one article. True with the frame and an empty message; false with one of the refusal
/// texts ("PLU is out of range", "barcode must be 7 digits", ...), the frame then meaningless.
bool EncodeDigiPlu(const TPluRecord& Item, std::vector<std::uint8_t>& Frame, std::string& Message);

/// UTF-8 text to code page 866 bytes. Accepted only when the bytes decode back to exactly the
/// same text, so a character without a byte is refused ("text does not fit CP866"), never
/// replaced by a look-alike.
bool ToCp866(std::string_view Text, std::vector<std::uint8_t>& Bytes, std::string& Message);

/// The ingredient bytes of an article: the line-feed separated pieces trimmed, blank ones dropped,
/// joined with ";" and ended by ";", in code page 866. Empty (and true) when no piece remains.
/// Refuses "text does not fit CP866" and "ingredients are longer than 255 bytes".
bool BuildIngredientBytes(std::string_view Ingredients, std::vector<std::uint8_t>& Bytes,
                          std::string& Message);

} // namespace Plumeria
