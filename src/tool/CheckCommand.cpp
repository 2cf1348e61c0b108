// `plumeria check FILE [--cp 866|1251] [--json]`: parses a PLU file exactly as the watch
// pipeline does and reports what the pipeline would: every line error (as the ".err" file lists
// them), the warnings, and whether the file would be sent.

#include "core/PluCsv/PluCsv.h"
#include "platform/Environment.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/Json.h"

#include <cstdio>
#include <exception>
#include <string>

namespace Plumeria::Tool {
namespace {

constexpr const char* CheckUsage = "usage: plumeria check FILE [--cp 866|1251] [--json]";

bool WriteOut(const std::string& Text)
{
    return std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size();
}

/// Writes the result as one JSON object, flushing the buffer every few hundred kilobytes so a
/// file of a million articles is not held twice in memory.
bool PrintJson(const TPluParseResult& Result, int CodePage)
{
    constexpr std::size_t FlushAt = 256 * 1024;
    bool Ok = true;
    TJsonWriter Json;
    Json.BeginObject().Key("codepage").Int(CodePage).Key("items").BeginArray();
    for (const TPluRecord& Item : Result.Items) {
        Json.BeginObject()
            .Key("plu")
            .Int(Item.Plu)
            .Key("name")
            .String(Item.Name)
            .Key("price_cents")
            .Int(Item.PriceCents)
            .Key("barcode")
            .String(Item.Barcode)
            .Key("item_type")
            .Int(static_cast<int>(Item.ItemType))
            .Key("price_per_100g")
            .Bool(Item.PricePer100g)
            .Key("sell_by_days")
            .Int(Item.SellByDays)
            .Key("used_by_days")
            .Int(Item.UsedByDays)
            .Key("ingredients")
            .String(Item.Ingredients)
            .EndObject();
        if (Json.Text().size() >= FlushAt)
            Ok = WriteOut(Json.Take()) && Ok;
    }
    Json.EndArray().Key("errors").BeginArray();
    for (const TPluParseError& Error : Result.Errors)
        Json.BeginObject().Key("line").Int(Error.LineNo).Key("text").String(Error.Text).EndObject();
    Json.EndArray().Key("warnings").BeginArray();
    for (const std::string& Warning : Result.Warnings)
        Json.String(Warning);
    Json.EndArray().EndObject();
    return WriteOut(Json.Take() + "\n") && Ok;
}

bool PrintText(const TPluParseResult& Result, int CodePage)
{
    std::string Out;
    for (const TPluParseError& Error : Result.Errors)
        Out += "line " + std::to_string(Error.LineNo) + ": " + Error.Text + "\n";
    for (const std::string& Warning : Result.Warnings)
        Out += "warning: " + Warning + "\n";
    Out += std::string(Result.Rejected() ? "rejected" : "accepted") + ": " +
           std::to_string(Result.Items.size()) + " articles, " +
           std::to_string(Result.Errors.size()) + " errors, " +
           std::to_string(Result.Warnings.size()) + " warnings, code page " +
           std::to_string(CodePage) + "\n";
    return WriteOut(Out);
}

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "plumeria check: %s\n%s\n", Message.c_str(), CheckUsage);
    return ExitUsage;
}

} // namespace

int RunCheck(const TArgs& Args)
{
    const TArgReader Reader(Args, {"cp"}, {"json"});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (Reader.Positional().size() != 1)
        return UsageError(Reader.Positional().empty() ? "no FILE given"
                                                      : "more than one FILE given");

    int CodePage = 1251;
    if (std::string CpError; !ReadCodePage(Reader, CodePage, CpError))
        return UsageError(CpError);

    TPluParseResult Result;
    try {
        ParsePluFile(PathFromUtf8(Reader.Positional()[0]), CodePage, Result);
    } catch (const std::exception& Error) {
        std::fprintf(stderr, "plumeria check: %s\n", Error.what());
        return ExitUsage;
    }

    const int Normalized = NormalizeCodePage(CodePage);
    const bool Printed =
        Reader.Has("json") ? PrintJson(Result, Normalized) : PrintText(Result, Normalized);
    if (!Printed || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "plumeria check: cannot write the report\n");
        return ExitUsage;
    }
    return Result.Rejected() ? ExitFailed : ExitOk;
}

} // namespace Plumeria::Tool
