// `plumeria status [--json]`: what each scale of the data folder's settings last got, and how many
// files it still misses, from the delivery status and the re-send spool. Writes nothing: neither
// the settings nor the status are saved (a damaged status file is only kept aside, as every load
// of it does).

#include "core/Delivery/DeliveryStatus.h"
#include "core/Delivery/Spool.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Environment.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/Json.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace Plumeria::Tool {
namespace {

constexpr const char* StatusUsage = "usage: plumeria status [--json]";

struct TStatusRow
{
    std::string Name;     ///< as the scale lists show it
    std::string UserName; ///< the name the user gave, alone
    std::string Host;
    int Port = 0;
    bool Enabled = false;
    const TScaleDelivery* Record = nullptr; ///< none: nothing given to the scale yet
    std::size_t Missing = 0;
};

/// The port the uploads go to: a DIGI scale without one takes its make's default, as its driver
/// does.
int PortInUse(const TScaleConfig& Scale)
{
    if (Scale.Kind == TScaleKind::skDigi && Scale.Port <= 0)
        return DigiDefaultPort(Scale.Host);
    return Scale.Port;
}

std::vector<TStatusRow> CollectRows(const TLoaderSettings& Settings, const TDeliveryStatus& Status,
                                    const TSpool& Spool)
{
    std::vector<TStatusRow> Rows;
    for (const TScaleConfig& Scale : Settings.Scales) {
        TStatusRow Row;
        Row.Name = ScaleDisplayName(Scale);
        Row.UserName = Trim(Scale.Name);
        Row.Host = Scale.Host;
        Row.Port = PortInUse(Scale);
        Row.Enabled = Scale.Enabled;
        Row.Record = Status.Find(Row.Host, Row.Port);
        Row.Missing = Spool.Count(Row.Host, Row.Port);
        Rows.push_back(Row);
    }
    return Rows;
}

std::string StateText(const TScaleDelivery* Record)
{
    if (!Record || Record->LastResult == TDeliveryResult::drNone)
        return "nothing sent yet";
    std::string Text = DeliveryResultWord(Record->LastResult);
    Text += " " + Record->LastFile + " " + Record->LastTime + " (" +
            std::to_string(Record->Articles) + " PLU)";
    if (!Record->LastError.empty())
        Text += ": " + Record->LastError;
    return Text;
}

std::string TextReport(const std::vector<TStatusRow>& Rows)
{
    if (Rows.empty())
        return "no scales in the settings\n";
    std::string Out;
    for (const TStatusRow& Row : Rows) {
        if (!Row.UserName.empty())
            Out += Row.UserName + "  ";
        Out += Row.Host + ":" + std::to_string(Row.Port) + "  " + StateText(Row.Record) +
               "  missing " + std::to_string(Row.Missing);
        if (!Row.Enabled)
            Out += "  (disabled)";
        Out += "\n";
    }
    return Out;
}

void AppendKey(std::string& Out, const char* Key)
{
    AppendJsonString(Out, Key);
    Out += ": ";
}

/// A text, or null when there is none.
void AppendText(std::string& Out, const char* Key, const std::string* Text)
{
    AppendKey(Out, Key);
    if (Text && !Text->empty())
        AppendJsonString(Out, *Text);
    else
        Out += "null";
}

std::string JsonReport(const std::vector<TStatusRow>& Rows)
{
    std::string Out = "{\"scales\": [";
    for (std::size_t I = 0; I < Rows.size(); ++I) {
        const TStatusRow& Row = Rows[I];
        const TScaleDelivery* Record = Row.Record;
        const bool Given = Record && Record->LastResult != TDeliveryResult::drNone;
        const std::string Result = Given ? DeliveryResultWord(Record->LastResult) : "";
        Out += I == 0 ? "{" : ", {";
        AppendText(Out, "name", &Row.Name);
        Out += ", ";
        AppendText(Out, "host", &Row.Host);
        Out += ", ";
        AppendKey(Out, "port");
        Out += std::to_string(Row.Port) + ", ";
        AppendText(Out, "last_file", Record ? &Record->LastFile : nullptr);
        Out += ", ";
        AppendText(Out, "last_time", Record ? &Record->LastTime : nullptr);
        Out += ", ";
        AppendText(Out, "last_result", &Result);
        Out += ", ";
        AppendText(Out, "last_error", Record ? &Record->LastError : nullptr);
        Out += ", ";
        AppendKey(Out, "missing");
        Out += std::to_string(Row.Missing) + "}";
    }
    return Out + "]}\n";
}

} // namespace

int RunStatus(const TArgs& Args)
{
    TArgReader Reader(Args, {}, {"json"});
    if (!Reader.Ok() || !Reader.Positional().empty()) {
        std::fprintf(stderr, "plumeria status: %s\n%s\n",
                     Reader.Ok() ? "takes no file or folder" : Reader.Error().c_str(), StatusUsage);
        return ExitUsage;
    }
    // Loaded the way `plumeria run` loads them, but never saved: a status query changes nothing.
    TLoaderSettings Settings;
    if (!Settings.Load()) {
        std::fprintf(stderr, "plumeria status: cannot read %s\n",
                     PathToUtf8(Settings.IniPath()).c_str());
        return ExitUsage;
    }
    SetLogLevel(Settings.LogLevel);

    TDeliveryStatus Status(DataFolder() / "delivery.ini");
    if (std::string Error; !Status.Load(Error)) {
        std::filesystem::path Aside = Status.File();
        Aside += ".bad";
        std::error_code Ignored;
        const std::string Kept = std::filesystem::exists(Aside, Ignored)
                                     ? "; the file is kept aside as " + PathToUtf8(Aside)
                                     : "";
        std::fprintf(stderr, "plumeria status: delivery status unreadable: %s%s\n", Error.c_str(),
                     Kept.c_str());
        return ExitFailed;
    }
    const TSpool Spool(DataFolder() / "spool");
    const std::vector<TStatusRow> Rows = CollectRows(Settings, Status, Spool);
    const std::string Out = Reader.Has("json") ? JsonReport(Rows) : TextReport(Rows);
    std::fwrite(Out.data(), 1, Out.size(), stdout);
    return std::fflush(stdout) == 0 ? ExitOk : ExitFailed;
}

} // namespace Plumeria::Tool
