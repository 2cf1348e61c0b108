#pragma once
// The fixed table of DIGI label fields and the units they are measured in. Every format record
// of "f34.dat" holds one block of 8 or 12 bytes per field at the offset given here; the index in
// the table (`SlotIndex`) names a field everywhere in the designer, and the table order is the
// order in which fields are listed and drawn.

#include <cstdint>
#include <string>

namespace Plumeria {

/// Printer dots per millimetre: positions and most sizes are in dots.
inline constexpr int DotsPerMm = 8;

enum class TDigiFieldKind : std::uint8_t
{
    dfText = 0,     ///< fixed text messages
    dfLine = 1,     ///< one-line data fields (price, weight), sized by font and symbol count
    dfBlock = 2,    ///< text blocks (article name, shop address)
    dfEan = 3,      ///< the EAN-13 barcode
    dfMultiBar = 4, ///< multi-barcodes
    dfBevel = 5,    ///< rectangular frames, given by two corners
    dfPicture = 6,  ///< pictures
    dfLogo = 7,     ///< the logo
};

/// One field block of a format record.
struct TDigiSlot
{
    TDigiFieldKind Kind = TDigiFieldKind::dfText;
    std::int32_t Number = 0;         ///< the field's number within its kind, from 1
    std::int32_t Offset = 0;         ///< offset of the block within a format record
    std::int32_t Bytes = 0;          ///< block length: 8 or 12
    std::int32_t DefaultSymbols = 0; ///< symbols a newly placed `dfLine` gets; 0 for the others

    friend bool operator==(const TDigiSlot&, const TDigiSlot&) = default;
};

/// Number of fields in the table: 59.
int SlotCount();
/// A copy of the table entry; `SlotIndex` must lie in 0 … SlotCount() − 1.
TDigiSlot GetSlot(int SlotIndex);
/// The UTF-8 caption under which the field is shown ("Цена", "Рамка 3", …). Empty for a slot
/// that is not in the table.
std::string FieldCaption(const TDigiSlot& Slot);

/// 0 below 0, 65535 above 65535, else the value.
int ClampWord(std::int64_t Value);
/// Tenths of a millimetre to dots, rounded: ((max(t, 0) × 8) + 5) div 10.
int DotsFromTenths(int Tenths);
/// Dots to tenths of a millimetre, rounded: ((max(d, 0) × 5) + 2) div 4 (at most INT_MAX).
int TenthsFromDots(int Dots);

} // namespace Plumeria
