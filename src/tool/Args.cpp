#include "tool/Args.h"

#include <charconv>
#include <climits>

namespace Plumeria::Tool {

TArgReader::TArgReader(const std::vector<std::string>& Args, std::set<std::string> ValueOptions,
                       std::set<std::string> Flags)
{
    for (std::size_t I = 0; I < Args.size(); ++I) {
        const std::string& Arg = Args[I];
        if (Arg.size() < 3 || Arg.compare(0, 2, "--") != 0) {
            FPositional.push_back(Arg);
            continue;
        }
        std::string Name = Arg.substr(2);
        std::optional<std::string> Inline;
        if (const auto Eq = Name.find('='); Eq != std::string::npos) {
            Inline = Name.substr(Eq + 1);
            Name.resize(Eq);
        }
        if (Flags.count(Name) && !Inline) {
            FFlags.insert(Name);
        } else if (ValueOptions.count(Name)) {
            if (Inline) {
                FValues[Name] = *Inline;
            } else if (I + 1 < Args.size()) {
                FValues[Name] = Args[++I];
            } else {
                FError = "option --" + Name + " needs a value";
                return;
            }
        } else {
            FError = "unknown option --" + Name;
            return;
        }
    }
}

bool TArgReader::Has(const std::string& Name) const
{
    return FFlags.count(Name) || FValues.count(Name);
}

std::optional<std::string> TArgReader::Value(const std::string& Name) const
{
    const auto It = FValues.find(Name);
    if (It == FValues.end())
        return std::nullopt;
    return It->second;
}

int TArgReader::IntValue(const std::string& Name, int Fallback, int Min, int Max)
{
    const auto Text = Value(Name);
    if (!Text)
        return Fallback;
    int Result = 0;
    const char* End = Text->data() + Text->size();
    const auto [Ptr, Ec] = std::from_chars(Text->data(), End, Result);
    if (Ec != std::errc() || Ptr != End || Result < Min || Result > Max) {
        if (FError.empty())
            FError = "--" + Name + " must be a number from " + std::to_string(Min) + " to " +
                     std::to_string(Max);
        return Fallback;
    }
    return Result;
}

bool ReadScaleTarget(TArgReader& Reader, const std::string& PositionalName, TScaleTarget& Target,
                     std::string& Error)
{
    if (!Reader.Ok()) {
        Error = Reader.Error();
        return false;
    }
    if (Reader.Positional().size() != 1) {
        Error = Reader.Positional().empty() ? "no " + PositionalName + " given"
                                            : "more than one " + PositionalName + " given";
        return false;
    }
    const auto Host = Reader.Value("host");
    if (!Host || Host->empty()) {
        Error = "--host is required";
        return false;
    }
    const int Port = Reader.IntValue("port", 0, 0, 65535);
    const int TimeoutMs = Reader.IntValue("timeout", 500, 0, INT_MAX);
    if (!Reader.Ok()) {
        Error = Reader.Error();
        return false;
    }
    Target.Positional = Reader.Positional()[0];
    Target.Host = *Host;
    Target.Port = Port;
    Target.TimeoutMs = TimeoutMs;
    Target.BindIp = Reader.Value("bind").value_or("");
    return true;
}

bool ReadCodePage(const TArgReader& Reader, int& CodePage, std::string& Error)
{
    CodePage = 1251;
    if (const auto Text = Reader.Value("cp")) {
        if (*Text == "866") {
            CodePage = 866;
        } else if (*Text != "1251") {
            Error = "--cp must be 866 or 1251, not '" + *Text + "'";
            return false;
        }
    }
    return true;
}

} // namespace Plumeria::Tool
