#pragma once
// Strict UTF-8 decoding of one character, shared by the text helpers and the code-page encoder.
// Overlong forms, surrogates and values above U+10FFFF are invalid; an invalid sequence is
// reported as one bad byte so callers can step over it and go on.

#include <cstddef>
#include <string_view>

namespace Plumeria {

struct TUtf8Step
{
    char32_t Code = 0;
    std::size_t Length = 1; ///< bytes consumed: the character, or the one bad byte
    bool Valid = false;
};

inline TUtf8Step DecodeUtf8Step(std::string_view Text, std::size_t Pos)
{
    const auto Byte = [&](std::size_t I) { return static_cast<unsigned char>(Text[I]); };
    const unsigned char Lead = Byte(Pos);
    if (Lead < 0x80)
        return {Lead, 1, true};

    std::size_t Length;
    char32_t Code;
    char32_t Minimum;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
        Length = 2;
        Code = Lead & 0x1F;
        Minimum = 0x80;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Length = 3;
        Code = Lead & 0x0F;
        Minimum = 0x800;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Length = 4;
        Code = Lead & 0x07;
        Minimum = 0x10000;
    } else {
        return {}; // a continuation byte, an overlong lead (C0, C1) or F5..FF
    }
    if (Text.size() - Pos < Length)
        return {};
    for (std::size_t I = 1; I < Length; ++I) {
        const unsigned char Next = Byte(Pos + I);
        if ((Next & 0xC0) != 0x80)
            return {};
        Code = (Code << 6) | (Next & 0x3F);
    }
    if (Code < Minimum || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        return {};
    return {Code, Length, true};
}

} // namespace Plumeria
