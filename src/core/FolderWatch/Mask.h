#pragma once
// File-name masks: ";"-separated lists of wildcard masks compared without regard to letter case
// (upper-cased with the locale's rules, Cyrillic included). Wildcards: "*" any run of characters,
// the empty run included; "?" exactly one character; "[abc]", "[a-z]" one character of the set,
// "[!a-z]" one character outside it. The whole name must match the whole mask.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// Raised for a mask that cannot be read (a "[" set without its "]").
class TMaskError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// One mask, upper-cased and compiled once, for testing many names.
class TFileMask
{
public:
    /// Throws TMaskError when `Mask` is not a valid mask.
    explicit TFileMask(std::string_view Mask);
    /// The error text for `Mask`, empty when it is valid.
    static std::string Validate(std::string_view Mask);
    bool Matches(std::string_view Name) const;

private:
    struct TToken
    {
        enum TKind
        {
            tkChar,
            tkAnyOne,
            tkAnyRun,
            tkSet
        } Kind = tkChar;
        char32_t Char = 0;
        bool Negated = false;
        std::vector<std::pair<char32_t, char32_t>> Ranges;
    };
    std::vector<TToken> FTokens;
};

/// The non-empty (trimmed) parts of a mask list, compiled once; invalid parts are left out and
/// their errors kept. This is what the folder watch tests every listed file against.
class TMaskList
{
public:
    explicit TMaskList(std::string_view Masks);
    bool Matches(std::string_view Name) const;
    /// One error text per invalid part, in list order.
    const std::vector<std::string>& Errors() const { return FErrors; }

private:
    std::vector<TFileMask> FMasks;
    std::vector<std::string> FErrors;
};

/// Tests `Name` against the parts of `Masks` in order: true at the first part that matches, false
/// when none does (and for a list without any non-empty part). An invalid part reached before a
/// match raises TMaskError with its error text.
bool MatchesMaskList(std::string_view Name, std::string_view Masks);

/// Trims `Mask`; empty or exactly "*" accepts every name, anything else is MatchesMaskList (and
/// raises TMaskError as it does).
bool MatchesScaleMask(std::string_view Name, std::string_view Mask);

/// The error text of the first invalid part of `Masks`, empty when every part is valid, so a
/// caller can journal a bad mask without testing a name.
std::string ValidateMaskList(std::string_view Masks);

} // namespace Plumeria
