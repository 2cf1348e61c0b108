#include "core/Text/Text.h"

#include "core/Text/Utf8Decode.h"

#include <limits>

namespace Plumeria {

namespace {

constexpr bool IsBlank(char C)
{
    return static_cast<unsigned char>(C) <= 32;
}

constexpr char LowerAscii(char C)
{
    return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C;
}

constexpr char UpperAscii(char C)
{
    return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
}

void AppendUtf8(std::string& Out, char32_t Code)
{
    if (Code < 0x80) {
        Out.push_back(static_cast<char>(Code));
    } else if (Code < 0x800) {
        Out.push_back(static_cast<char>(0xC0 | (Code >> 6)));
        Out.push_back(static_cast<char>(0x80 | (Code & 0x3F)));
    } else if (Code < 0x10000) {
        Out.push_back(static_cast<char>(0xE0 | (Code >> 12)));
        Out.push_back(static_cast<char>(0x80 | ((Code >> 6) & 0x3F)));
        Out.push_back(static_cast<char>(0x80 | (Code & 0x3F)));
    } else {
        Out.push_back(static_cast<char>(0xF0 | (Code >> 18)));
        Out.push_back(static_cast<char>(0x80 | ((Code >> 12) & 0x3F)));
        Out.push_back(static_cast<char>(0x80 | ((Code >> 6) & 0x3F)));
        Out.push_back(static_cast<char>(0x80 | (Code & 0x3F)));
    }
}

} // namespace

std::string_view TrimView(std::string_view Text)
{
    std::size_t Begin = 0;
    std::size_t End = Text.size();
    while (Begin < End && IsBlank(Text[Begin]))
        ++Begin;
    while (End > Begin && IsBlank(Text[End - 1]))
        --End;
    return Text.substr(Begin, End - Begin);
}

std::string Trim(std::string_view Text)
{
    return std::string(TrimView(Text));
}

std::string AsciiLower(std::string_view Text)
{
    std::string Out(Text);
    for (char& C : Out)
        C = LowerAscii(C);
    return Out;
}

std::string AsciiUpper(std::string_view Text)
{
    std::string Out(Text);
    for (char& C : Out)
        C = UpperAscii(C);
    return Out;
}

bool SameTextAscii(std::string_view A, std::string_view B)
{
    if (A.size() != B.size())
        return false;
    for (std::size_t I = 0; I < A.size(); ++I) {
        if (LowerAscii(A[I]) != LowerAscii(B[I]))
            return false;
    }
    return true;
}

std::size_t Utf16Length(std::string_view Utf8)
{
    std::size_t Units = 0;
    std::size_t Pos = 0;
    while (Pos < Utf8.size()) {
        const TUtf8Step Step = DecodeUtf8Step(Utf8, Pos);
        Units += (Step.Valid && Step.Code >= 0x10000) ? 2 : 1;
        Pos += Step.Length;
    }
    return Units;
}

std::string Utf16Prefix(std::string_view Utf8, std::size_t MaxUnits)
{
    std::size_t Units = 0;
    std::size_t Pos = 0;
    while (Pos < Utf8.size()) {
        const TUtf8Step Step = DecodeUtf8Step(Utf8, Pos);
        const std::size_t Need = (Step.Valid && Step.Code >= 0x10000) ? 2 : 1;
        if (Units + Need > MaxUnits)
            break;
        Units += Need;
        Pos += Step.Length;
    }
    return std::string(Utf8.substr(0, Pos));
}

bool IsValidUtf8(std::string_view Bytes)
{
    std::size_t Pos = 0;
    while (Pos < Bytes.size()) {
        // Runs of ASCII are the common case in every file we read.
        if (static_cast<unsigned char>(Bytes[Pos]) < 0x80) {
            ++Pos;
            continue;
        }
        const TUtf8Step Step = DecodeUtf8Step(Bytes, Pos);
        if (!Step.Valid)
            return false;
        Pos += Step.Length;
    }
    return true;
}

std::u16string Utf8ToUtf16(std::string_view Utf8)
{
    std::u16string Out;
    Out.reserve(Utf8.size());
    std::size_t Pos = 0;
    while (Pos < Utf8.size()) {
        const TUtf8Step Step = DecodeUtf8Step(Utf8, Pos);
        Pos += Step.Length;
        if (!Step.Valid) {
            Out.push_back(u'\uFFFD');
        } else if (Step.Code >= 0x10000) {
            const char32_t V = Step.Code - 0x10000;
            Out.push_back(static_cast<char16_t>(0xD800 + (V >> 10)));
            Out.push_back(static_cast<char16_t>(0xDC00 + (V & 0x3FF)));
        } else {
            Out.push_back(static_cast<char16_t>(Step.Code));
        }
    }
    return Out;
}

std::string Utf16ToUtf8(std::u16string_view Utf16)
{
    std::string Out;
    Out.reserve(Utf16.size());
    for (std::size_t I = 0; I < Utf16.size(); ++I) {
        const char32_t Unit = Utf16[I];
        if (Unit >= 0xD800 && Unit <= 0xDBFF && I + 1 < Utf16.size() && Utf16[I + 1] >= 0xDC00 &&
            Utf16[I + 1] <= 0xDFFF) {
            const char32_t Low = Utf16[I + 1];
            AppendUtf8(Out, 0x10000 + ((Unit - 0xD800) << 10) + (Low - 0xDC00));
            ++I;
        } else if (Unit >= 0xD800 && Unit <= 0xDFFF) {
            // A lone surrogate has no UTF-8 form.
            AppendUtf8(Out, 0xFFFD);
        } else {
            AppendUtf8(Out, Unit);
        }
    }
    return Out;
}

bool TryParseInt32(std::string_view Text, std::int32_t& Value)
{
    std::size_t Pos = 0;
    bool Negative = false;
    if (Pos < Text.size() && (Text[Pos] == '+' || Text[Pos] == '-')) {
        Negative = Text[Pos] == '-';
        ++Pos;
    }

    int Base = 10;
    const std::string_view Rest = Text.substr(Pos);
    if (Rest.starts_with("0x") || Rest.starts_with("0X")) {
        Base = 16;
        Pos += 2;
    } else if (!Rest.empty() && (Rest[0] == '$' || Rest[0] == 'x' || Rest[0] == 'X')) {
        Base = 16;
        Pos += 1;
    }

    if (Pos >= Text.size())
        return false; // a sign or a prefix without digits

    // The magnitude may reach 2^31 for the negative limit; anything larger stops at once, so
    // arbitrarily long digit runs cannot overflow.
    constexpr std::int64_t Limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t Magnitude = 0;
    for (; Pos < Text.size(); ++Pos) {
        const int Digit = Base == 16
                              ? HexDigitValue(Text[Pos])
                              : ((Text[Pos] >= '0' && Text[Pos] <= '9') ? Text[Pos] - '0' : -1);
        if (Digit < 0)
            return false;
        Magnitude = Magnitude * Base + Digit;
        if (Magnitude > Limit)
            return false;
    }
    if (!Negative && Magnitude == Limit)
        return false;
    Value = static_cast<std::int32_t>(Negative ? -Magnitude : Magnitude);
    return true;
}

std::vector<std::string_view> SplitText(std::string_view Text, char Separator)
{
    std::vector<std::string_view> Parts;
    std::size_t Start = 0;
    for (;;) {
        const std::size_t At = Text.find(Separator, Start);
        if (At == std::string_view::npos) {
            Parts.push_back(Text.substr(Start));
            return Parts;
        }
        Parts.push_back(Text.substr(Start, At - Start));
        Start = At + 1;
    }
}

int HexDigitValue(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

std::string DecodeLinesUtf8Or1251(std::string_view Bytes)
{
    std::string Text;
    Text.reserve(Bytes.size());
    while (!Bytes.empty()) {
        const std::size_t End = Bytes.find('\n');
        const std::string_view Line =
            Bytes.substr(0, End == std::string_view::npos ? Bytes.size() : End + 1);
        if (IsValidUtf8(Line))
            Text += Line;
        else
            Text += DecodeCodePage(Line, 1251);
        Bytes.remove_prefix(Line.size());
    }
    return Text;
}

} // namespace Plumeria
