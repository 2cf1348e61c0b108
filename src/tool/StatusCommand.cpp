// `plumeria status [--json]`: what each scale of the data folder's settings last got, and how many
// files it still misses, from the delivery status and the re-send spool. Reads only: no file is
// written, renamed or journaled to. Whatever would make a monitoring script's "all well" untrue
// exits 1 with the reason on stderr: no settings, a data folder that fell back to the program's
// folder, a damaged status file (the records that could be read are still printed).

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
    // The journal stays silent: a query is nothing worth a line, and a settings file that cannot
    // be read is said here.
    ShutdownJournal();
    if (const std::string Fallback = DataFolderFallback(); !Fallback.empty()) {
        std::fprintf(stderr,
                     "plumeria status: the data folder cannot be used (%s); the programs keep "
                     "their settings and journal in %s instead\n",
                     Fallback.c_str(), PathToUtf8(DataFolder()).c_str());
        return ExitFailed;
    }
    TLoaderSettings Settings;
    std::error_code Missing;
    if (!std::filesystem::exists(Settings.IniPath(), Missing)) {
        std::fprintf(stderr, "plumeria status: no settings: %s does not exist\n",
                     PathToUtf8(Settings.IniPath()).c_str());
        return ExitFailed;
    }
    if (!Settings.Load()) {
        std::fprintf(stderr, "plumeria status: cannot read %s\n",
                     PathToUtf8(Settings.IniPath()).c_str());
        return ExitFailed;
    }

    TDeliveryStatus Status(DataFolder() / "delivery.ini");
    std::string Damage;
    const bool Whole = Status.Read(Damage);
    const TSpool Spool(DataFolder() / "spool");
    const std::vector<TStatusRow> Rows = CollectRows(Settings, Status, Spool);
    const std::string Out = Reader.Has("json") ? JsonReport(Rows) : TextReport(Rows);
    std::fwrite(Out.data(), 1, Out.size(), stdout);
    if (!Whole)
        std::fprintf(stderr, "plumeria status: delivery status damaged: %s\n", Damage.c_str());
    return std::fflush(stdout) == 0 && Whole ? ExitOk : ExitFailed;
}

} // namespace Plumeria::Tool
