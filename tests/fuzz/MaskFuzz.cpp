// libFuzzer target for the file-name masks: the input up to its first NUL byte is a file name,
// the rest a ";"-separated mask list. Beyond "no crash" (and no endless backtracking, which
// libFuzzer reports as a time-out) it checks: the list's compiled form, its validation and the
// one-call matcher agree; a list matches exactly when one of its valid parts does; "*" and the
// name itself (wildcard characters replaced by "?") match the name.

#include "FuzzCheck.h"

#include "core/FolderWatch/Mask.h"
#include "core/Text/Text.h"
#include "core/Text/Utf8Decode.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace Plumeria;

/// A mask that matches `Name` character by character, whatever its letter case.
std::string LiteralMask(std::string_view Name)
{
    std::string Mask;
    for (std::size_t Pos = 0; Pos < Name.size();) {
        const TUtf8Step Step = DecodeUtf8Step(Name, Pos);
        const auto Char = Name.substr(Pos, Step.Length);
        Mask += Char == "*" || Char == "?" || Char == "[" ? std::string_view("?") : Char;
        Pos += Step.Length;
    }
    return Mask;
}

bool MatchesPart(std::string_view Name, std::string_view Part)
{
    if (!TFileMask::Validate(Part).empty())
        return false;
    return TFileMask(Part).Matches(Name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
    const auto Nul = Input.find('\0');
    const auto Name = Input.substr(0, Nul);
    const auto Masks = Nul == std::string_view::npos ? std::string_view() : Input.substr(Nul + 1);

    const TMaskList List(Masks);
    const std::string FirstError = ValidateMaskList(Masks);
    FUZZ_CHECK(FirstError.empty() == List.Errors().empty());
    FUZZ_CHECK(List.Errors().empty() || List.Errors().front() == FirstError);

    bool AnyPart = false;
    for (const auto Piece : SplitText(Masks, ';')) {
        const auto Part = TrimView(Piece);
        if (Part.empty())
            continue;
        bool Throws = false;
        try {
            TFileMask Mask(Part);
        } catch (const TMaskError& Error) {
            Throws = true;
            FUZZ_CHECK(Error.what() == TFileMask::Validate(Part));
        }
        FUZZ_CHECK(Throws == !TFileMask::Validate(Part).empty());
        AnyPart = AnyPart || MatchesPart(Name, Part);
    }
    FUZZ_CHECK(List.Matches(Name) == AnyPart);

    try {
        const bool Matches = MatchesMaskList(Name, Masks);
        FUZZ_CHECK(Matches == AnyPart);
        FUZZ_CHECK(Matches || FirstError.empty());
    } catch (const TMaskError& Error) {
        FUZZ_CHECK(!FirstError.empty() && Error.what() == FirstError);
    }

    FUZZ_CHECK(TFileMask("*").Matches(Name));
    FUZZ_CHECK(MatchesScaleMask(Name, " * "));
    FUZZ_CHECK(TFileMask(LiteralMask(Name)).Matches(Name));
    return 0;
}
