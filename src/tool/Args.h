#pragma once
// A small reader for "--name value" options and positional arguments of a sub-command.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Plumeria::Tool {

class TArgReader
{
public:
    /// `ValueOptions` take a value ("--port 2001" or "--port=2001"); `Flags` take none.
    TArgReader(const std::vector<std::string>& Args, std::set<std::string> ValueOptions,
               std::set<std::string> Flags);

    bool Ok() const { return FError.empty(); }
    const std::string& Error() const { return FError; }
    const std::vector<std::string>& Positional() const { return FPositional; }
    bool Has(const std::string& Name) const;
    std::optional<std::string> Value(const std::string& Name) const;
    /// The option as a decimal integer in [Min, Max]; `Fallback` when absent. Sets the error
    /// and returns Fallback when present but not such a number.
    int IntValue(const std::string& Name, int Fallback, int Min, int Max);

private:
    std::map<std::string, std::string> FValues;
    std::set<std::string> FFlags;
    std::vector<std::string> FPositional;
    std::string FError;
};

/// What every command that talks to one scale reads: one positional argument, "--host"
/// (required), "--port" (0 asks for the make's default), "--timeout" in ms and "--bind".
struct TScaleTarget
{
    std::string Positional;
    std::string Host;
    int Port = 0;
    int TimeoutMs = 500;
    std::string BindIp;
};

/// Reads a `TScaleTarget` from `Reader` (whose options must include host, port, timeout and
/// bind). On a missing or malformed one returns false with the usage message in `Error`;
/// `PositionalName` names the positional argument in it ("FILE", "FOLDER").
bool ReadScaleTarget(TArgReader& Reader, const std::string& PositionalName, TScaleTarget& Target,
                     std::string& Error);

/// The PLU file code page of "--cp": 1251 when absent, 866 or 1251 when given; false with
/// `Error` set for anything else.
bool ReadCodePage(const TArgReader& Reader, int& CodePage, std::string& Error);

} // namespace Plumeria::Tool
