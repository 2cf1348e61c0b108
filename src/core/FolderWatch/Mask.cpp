#include "core/FolderWatch/Mask.h"

#include "core/Text/Text.h"
#include "core/Text/Utf8Decode.h"
#include "platform/TextCase.h"

#include <algorithm>
#include <cstddef>

namespace Plumeria {

namespace {

// Bytes that are not UTF-8 (possible in Linux file names) become U+DC80..U+DCFF, which no valid
// character decodes to, so such a byte matches only itself, "?" or "*".
std::u32string UpperChars(std::string_view Utf8)
{
    std::u32string Chars;
    Chars.reserve(Utf8.size());
    for (std::size_t Pos = 0; Pos < Utf8.size();) {
        const TUtf8Step Step = DecodeUtf8Step(Utf8, Pos);
        Chars.push_back(Step.Valid ? Step.Code
                                   : char32_t(0xDC00 + static_cast<unsigned char>(Utf8[Pos])));
        Pos += Step.Length;
    }
    UpperCaseText(Chars);
    return Chars;
}

std::string InvalidMaskText(std::string_view Mask)
{
    return "invalid mask \"" + std::string(Mask) + "\": \"[\" without \"]\"";
}

} // namespace

TFileMask::TFileMask(std::string_view Mask)
{
    const auto Make = [](TToken::TKind Kind) {
        TToken Token;
        Token.Kind = Kind;
        return Token;
    };
    const std::u32string Chars = UpperChars(Mask);
    for (std::size_t I = 0; I < Chars.size();) {
        const char32_t C = Chars[I];
        if (C == U'*') {
            // A run of stars is one star; fewer tokens keep the backtracking short.
            if (FTokens.empty() || FTokens.back().Kind != TToken::tkAnyRun)
                FTokens.push_back(Make(TToken::tkAnyRun));
            ++I;
        } else if (C == U'?') {
            FTokens.push_back(Make(TToken::tkAnyOne));
            ++I;
        } else if (C == U'[') {
            TToken Set = Make(TToken::tkSet);
            std::size_t J = I + 1;
            if (J < Chars.size() && Chars[J] == U'!') {
                Set.Negated = true;
                ++J;
            }
            bool Closed = false;
            while (J < Chars.size()) {
                if (Chars[J] == U']') {
                    Closed = true;
                    ++J;
                    break;
                }
                const char32_t Low = Chars[J];
                // "a-z" is a range; a "-" first in the set or right before "]" is itself.
                if (J + 2 < Chars.size() && Chars[J + 1] == U'-' && Chars[J + 2] != U']') {
                    Set.Ranges.emplace_back(Low, Chars[J + 2]);
                    J += 3;
                } else {
                    Set.Ranges.emplace_back(Low, Low);
                    ++J;
                }
            }
            if (!Closed)
                throw TMaskError(InvalidMaskText(Mask));
            FTokens.push_back(std::move(Set));
            I = J;
        } else {
            TToken Literal = Make(TToken::tkChar);
            Literal.Char = C;
            FTokens.push_back(std::move(Literal));
            ++I;
        }
    }
}

std::string TFileMask::Validate(std::string_view Mask)
{
    try {
        TFileMask Probe(Mask);
    } catch (const TMaskError& Error) {
        return Error.what();
    }
    return {};
}

bool TFileMask::Matches(std::string_view Name) const
{
    const std::u32string Chars = UpperChars(Name);
    const auto MatchesOne = [](const TToken& Token, char32_t C) {
        switch (Token.Kind) {
        case TToken::tkChar:
            return Token.Char == C;
        case TToken::tkAnyOne:
            return true;
        case TToken::tkSet: {
            bool In = false;
            for (const auto& [Low, High] : Token.Ranges)
                if (C >= Low && C <= High) {
                    In = true;
                    break;
                }
            return In != Token.Negated;
        }
        case TToken::tkAnyRun:
            break;
        }
        return false;
    };

    // Greedy match with backtracking to the last star only: enough for masks whose other tokens
    // each match exactly one character, and linear in the common cases.
    constexpr std::size_t None = static_cast<std::size_t>(-1);
    std::size_t T = 0, N = 0, StarToken = None, StarName = 0;
    while (N < Chars.size()) {
        if (T < FTokens.size() && FTokens[T].Kind == TToken::tkAnyRun) {
            StarToken = T++;
            StarName = N;
        } else if (T < FTokens.size() && MatchesOne(FTokens[T], Chars[N])) {
            ++T;
            ++N;
        } else if (StarToken != None) {
            T = StarToken + 1;
            N = ++StarName;
        } else {
            return false;
        }
    }
    while (T < FTokens.size() && FTokens[T].Kind == TToken::tkAnyRun)
        ++T;
    return T == FTokens.size();
}

namespace {

template <typename TVisit> void ForEachPart(std::string_view Masks, TVisit Visit)
{
    std::size_t Start = 0;
    while (Start <= Masks.size()) {
        const std::size_t End = std::min(Masks.find(';', Start), Masks.size());
        const std::string_view Part = TrimView(Masks.substr(Start, End - Start));
        if (!Part.empty() && Visit(Part))
            return;
        Start = End + 1;
    }
}

} // namespace

TMaskList::TMaskList(std::string_view Masks)
{
    ForEachPart(Masks, [this](std::string_view Part) {
        try {
            FMasks.emplace_back(Part);
        } catch (const TMaskError& Error) {
            FErrors.emplace_back(Error.what());
        }
        return false;
    });
}

bool TMaskList::Matches(std::string_view Name) const
{
    for (const TFileMask& Mask : FMasks)
        if (Mask.Matches(Name))
            return true;
    return false;
}

bool MatchesMaskList(std::string_view Name, std::string_view Masks)
{
    bool Found = false;
    ForEachPart(Masks, [&](std::string_view Part) {
        Found = TFileMask(Part).Matches(Name);
        return Found;
    });
    return Found;
}

bool MatchesScaleMask(std::string_view Name, std::string_view Mask)
{
    const std::string_view Trimmed = TrimView(Mask);
    if (Trimmed.empty() || Trimmed == "*")
        return true;
    return MatchesMaskList(Name, Trimmed);
}

std::string ValidateMaskList(std::string_view Masks)
{
    std::string First;
    ForEachPart(Masks, [&](std::string_view Part) {
        First = TFileMask::Validate(Part);
        return !First.empty();
    });
    return First;
}

} // namespace Plumeria
