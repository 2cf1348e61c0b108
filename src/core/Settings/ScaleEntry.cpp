#include "core/Settings/ScaleEntry.h"

#include "core/DigiSearch/TcpTransport.h"
#include "core/Text/Text.h"

namespace Plumeria {

namespace {

constexpr std::int32_t HighestPort = 65535;

/// The trimmed text as an integer; 0 when it is not one.
std::int32_t IntegerOrZero(std::string_view Text)
{
    std::int32_t Value = 0;
    return TryParseInt32(TrimView(Text), Value) ? Value : 0;
}

} // namespace

std::string EntryMask(std::string_view MaskText)
{
    const std::string_view Mask = TrimView(MaskText);
    return Mask.empty() ? std::string("*") : std::string(Mask);
}

bool IsPlainMask(std::string_view Mask)
{
    return Mask.find_first_of("\\/:") == std::string_view::npos;
}

TScaleEntryError ReadScaleEntry(const TScaleEntryFields& Fields, TScaleConfig& Config)
{
    Config = TScaleConfig{};
    Config.Host = Trim(Fields.Host);
    if (Config.Host.empty())
        return TScaleEntryError::seNoHost;
    Config.Port = IntegerOrZero(Fields.Port);
    if (Config.Port == 0)
        Config.Port = DigiDefaultPort(Config.Host);
    if (Config.Port < 1 || Config.Port > HighestPort)
        return TScaleEntryError::sePortRange;
    Config.Kind = TScaleKind::skDigi;
    Config.Model = Trim(Fields.Model);
    Config.FileCodePage = Fields.CodePage866 ? 866 : 1251;
    Config.Enabled = Fields.Enabled;
    Config.Name = Utf16Prefix(Trim(Fields.Name), MaxScaleNameLength);
    Config.FileMask = EntryMask(Fields.Mask);
    if (!IsPlainMask(Config.FileMask))
        return TScaleEntryError::seMaskWithPath;
    return TScaleEntryError::seNone;
}

std::optional<std::int32_t> AutoPortFor(std::string_view HostText, std::string_view PortText,
                                        std::int32_t LastAutoPort)
{
    const std::int32_t Default = DigiDefaultPort(TrimView(HostText));
    const bool PortEmpty = TrimView(PortText).empty();
    const std::int32_t Typed = IntegerOrZero(PortText);
    if (Default > 0) {
        if (PortEmpty || Typed == 0 || Typed == 2000 || Typed == LastAutoPort)
            return Default;
        return std::nullopt;
    }
    // The host lost its default port while being typed (10.0.0.25 becoming 10.0.0.255): a port
    // the dialog filled in for the shorter host would be wrong for this one.
    if (!PortEmpty && LastAutoPort > 0 && Typed == LastAutoPort)
        return 0;
    return std::nullopt;
}

std::string ScaleHitText(const TScaleConfig& Config)
{
    std::string Text;
    const std::string Name = Trim(Config.Name);
    if (!Name.empty())
        Text = Name + "   ";
    Text += Config.Host + ":" + std::to_string(Config.Port) + "   " + EntryMask(Config.FileMask);
    return Text;
}

int FindHost(const std::vector<TScaleConfig>& Records, std::string_view Host)
{
    for (std::size_t I = 0; I < Records.size(); ++I)
        if (SameTextAscii(Records[I].Host, Host))
            return static_cast<int>(I);
    return -1;
}

int FindDigiHost(const std::vector<TScaleConfig>& Scales, std::string_view Host)
{
    for (std::size_t I = 0; I < Scales.size(); ++I)
        if (Scales[I].Kind == TScaleKind::skDigi && SameTextAscii(Scales[I].Host, Host))
            return static_cast<int>(I);
    return -1;
}

std::int32_t ProbePort(const TScaleConfig& Config)
{
    if (Config.Kind == TScaleKind::skDigi && Config.Port <= 0)
        return DigiDefaultPort(Config.Host);
    return Config.Port;
}

} // namespace Plumeria
