// The Cyrillic code pages 866 (DOS) and 1251 (Windows) as fixed tables: the upper 128 bytes of each
// map to one BMP character; the lower 128 are ASCII. Decoding is a table walk with one allocation;
// encoding uses a reverse table built once per code page.

#include "core/Text/Text.h"

#include "core/Text/Utf8Decode.h"

#include <array>
#include <cstring>

namespace Plumeria {

namespace {

// Byte 0x98 has no character in 1251; it stands for U+0098 as the Windows converter does, so one
// stray byte never makes a whole file unreadable.
constexpr std::array<char16_t, 128> Cp866Table = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // 88
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // 98
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, // D8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // E8
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E, // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0, // F8
};
constexpr std::array<char16_t, 128> Cp1251Table = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // F8
};

/// The UTF-8 form of each upper byte, precomputed so decoding copies bytes instead of encoding.
struct TUtf8Form
{
    char Bytes[3] = {};
    unsigned char Length = 0;
};

using TDecodeTable = std::array<TUtf8Form, 128>;

constexpr TDecodeTable MakeDecodeTable(const std::array<char16_t, 128>& Table)
{
    TDecodeTable Forms{};
    for (std::size_t I = 0; I < Table.size(); ++I) {
        const char16_t Code = Table[I];
        TUtf8Form& Form = Forms[I];
        if (Code < 0x800) {
            Form.Bytes[0] = static_cast<char>(0xC0 | (Code >> 6));
            Form.Bytes[1] = static_cast<char>(0x80 | (Code & 0x3F));
            Form.Length = 2;
        } else {
            Form.Bytes[0] = static_cast<char>(0xE0 | (Code >> 12));
            Form.Bytes[1] = static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
            Form.Bytes[2] = static_cast<char>(0x80 | (Code & 0x3F));
            Form.Length = 3;
        }
    }
    return Forms;
}

constexpr TDecodeTable Cp866Forms = MakeDecodeTable(Cp866Table);
constexpr TDecodeTable Cp1251Forms = MakeDecodeTable(Cp1251Table);

/// Byte for every BMP character, 0 when the code page has none (U+0000 is handled as ASCII).
using TEncodeTable = std::array<unsigned char, 0x10000>;

TEncodeTable MakeEncodeTable(const std::array<char16_t, 128>& Table)
{
    TEncodeTable Bytes{};
    for (std::size_t I = 0; I < Table.size(); ++I)
        Bytes[Table[I]] = static_cast<unsigned char>(0x80 + I);
    return Bytes;
}

const TEncodeTable& EncodeTableFor(int CodePage)
{
    static const TEncodeTable Cp866 = MakeEncodeTable(Cp866Table);
    static const TEncodeTable Cp1251 = MakeEncodeTable(Cp1251Table);
    return CodePage == 866 ? Cp866 : Cp1251;
}

} // namespace

std::string DecodeCodePage(std::string_view Bytes, int CodePage)
{
    const TDecodeTable& Forms = CodePage == 866 ? Cp866Forms : Cp1251Forms;

    // Size the result exactly first: large files are decoded whole, and growing the string while
    // appending would copy it several times and leave up to twice the needed memory reserved.
    std::size_t Size = 0;
    for (const char C : Bytes) {
        const auto B = static_cast<unsigned char>(C);
        Size += B < 0x80 ? 1 : Forms[B - 0x80].Length;
    }

    std::string Out;
    Out.resize(Size);
    char* Dest = Out.data();
    for (const char C : Bytes) {
        const auto B = static_cast<unsigned char>(C);
        if (B < 0x80) {
            *Dest++ = C;
        } else {
            const TUtf8Form& Form = Forms[B - 0x80];
            std::memcpy(Dest, Form.Bytes, Form.Length);
            Dest += Form.Length;
        }
    }
    return Out;
}

bool EncodeCodePage(std::string_view Utf8, int CodePage, std::string& Out, char32_t* BadChar)
{
    const TEncodeTable& Table = EncodeTableFor(CodePage);
    Out.clear();
    Out.reserve(Utf8.size());
    std::size_t Pos = 0;
    while (Pos < Utf8.size()) {
        const auto Lead = static_cast<unsigned char>(Utf8[Pos]);
        if (Lead < 0x80) {
            Out.push_back(static_cast<char>(Lead));
            ++Pos;
            continue;
        }
        const TUtf8Step Step = DecodeUtf8Step(Utf8, Pos);
        // Bytes that are not UTF-8 are no character at all: reported as U+FFFD, never guessed.
        const char32_t Code = Step.Valid ? Step.Code : U'\uFFFD';
        const unsigned char Byte = Code < 0x10000 ? Table[Code] : 0;
        if (!Step.Valid || Byte == 0) {
            if (BadChar)
                *BadChar = Code;
            return false;
        }
        Out.push_back(static_cast<char>(Byte));
        Pos += Step.Length;
    }
    return true;
}

} // namespace Plumeria
