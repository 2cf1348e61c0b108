// libFuzzer target for the price rule (`TryParsePriceCents`). Beyond "no crash" it checks what
// must hold for any text: a refused text leaves 0; an accepted amount is never negative and reads
// back from its own "units.hundredths" form; blanks around the text, a leading "+" and "," in
// place of "." change nothing; a text without a decimal point is whole units.

#include "FuzzCheck.h"

#include "core/PluCsv/PluCsv.h"
#include "core/Text/Text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace Plumeria;

struct TPrice
{
    bool Ok = false;
    std::int64_t Cents = -1;
    bool operator==(const TPrice&) const = default;
};

TPrice Parse(std::string_view Text)
{
    TPrice Price;
    Price.Ok = TryParsePriceCents(Text, Price.Cents);
    return Price;
}

std::string Formatted(std::int64_t Cents)
{
    const std::int64_t Hundredths = Cents % 100;
    return std::to_string(Cents / 100) + (Hundredths < 10 ? ".0" : ".") +
           std::to_string(Hundredths);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    const TPrice Price = Parse(Text);
    if (!Price.Ok) {
        FUZZ_CHECK(Price.Cents == 0);
    } else {
        FUZZ_CHECK(Price.Cents >= 0);
        FUZZ_CHECK(Parse(Formatted(Price.Cents)) == Price);
    }
    FUZZ_CHECK(Parse(" \t" + Text + "\r\n ") == Price);

    const auto Trimmed = TrimView(Text);
    if (!Trimmed.empty() && Trimmed.front() != '+' && Trimmed.front() != '-')
        FUZZ_CHECK(Parse("+" + std::string(Trimmed)) == Price);
    if (const auto Comma = Text.find(','); Comma != std::string::npos) {
        std::string Dotted = Text;
        Dotted[Comma] = '.';
        FUZZ_CHECK(Parse(Dotted) == Price);
    }
    if (Price.Ok && Text.find_first_of(".,") == std::string::npos)
        FUZZ_CHECK(Price.Cents % 100 == 0);
    return 0;
}
