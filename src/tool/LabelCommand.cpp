// `plumeria label show|new|edit`: the DIGI label file "f34.dat" on the command line, through the
// designer's own document model. `show` lists the formats and the fields on them (as text or one
// JSON object) or the table of all fields, `new` makes an empty file of two formats, `edit`
// places, moves, resizes or clears one field of one format and saves, changing only the digits of
// the bytes that change. An edit that would not do what it says (placing a field that is there,
// resizing one of fixed size) is refused and the file stays as it was.

#include "core/LabelGeom/LabelGeom.h"
#include "platform/Environment.h"
#include "tool/Args.h"
#include "tool/Commands.h"
#include "tool/Json.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace Plumeria::Tool {
namespace {

using enum TDigiFieldKind;

constexpr const char* LabelUsage =
    "usage: plumeria label show PATH [--json]\n"
    "       plumeria label show --slots\n"
    "       plumeria label new FOLDER --size WxH [--replace]\n"
    "       plumeria label edit PATH --format ID (--place SLOT X Y | --move SLOT X Y |\n"
    "                           --resize SLOT W H | --clear SLOT)\n"
    "PATH is an f34.dat or the folder that holds it. X, Y, W and H are printer dots, 8 per mm.\n"
    "Above the band line (10 mm over the lower edge) Y is the height of the field's lower edge\n"
    "over that line; in the band Y is the distance from the label's top edge.\n"
    "SLOT is a field's number: `plumeria label show --slots` lists all of them,\n"
    "`plumeria label show PATH` the ones placed on a label.";
constexpr const char* LabelFileName = "f34.dat";
// Label sizes in millimetres, as the designer's size dialog accepts them.
constexpr int MinLabelMm = 10;
constexpr int MaxLabelMm = 200;

int UsageError(const std::string& Message)
{
    std::fprintf(stderr, "plumeria label: %s\n%s\n", Message.c_str(), LabelUsage);
    return ExitUsage;
}

int Failed(const std::string& Message)
{
    std::fprintf(stderr, "plumeria label: %s\n", Message.c_str());
    return ExitFailed;
}

const char* KindName(TDigiFieldKind Kind)
{
    switch (Kind) {
    case dfText:
        return "text";
    case dfLine:
        return "line";
    case dfBlock:
        return "block";
    case dfEan:
        return "ean";
    case dfMultiBar:
        return "multibar";
    case dfBevel:
        return "bevel";
    case dfPicture:
        return "picture";
    case dfLogo:
        return "logo";
    }
    return "text";
}

template <typename T> std::optional<T> ParseNumber(const std::string& Text)
{
    T Value{};
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Ec] = std::from_chars(Text.data(), End, Value);
    if (Text.empty() || Ec != std::errc() || Ptr != End)
        return std::nullopt;
    return Value;
}

/// PATH names "f34.dat" itself or the folder that holds it; nullopt when nothing is there.
std::optional<std::filesystem::path> LabelFileOf(const std::string& Argument)
{
    const std::filesystem::path Path = PathFromUtf8(Argument);
    std::error_code Error;
    if (!std::filesystem::exists(Path, Error))
        return std::nullopt;
    if (std::filesystem::is_directory(Path, Error))
        return Path / LabelFileName;
    return Path;
}

std::string ErrorJson(const std::string& Code)
{
    TJsonWriter Out;
    Out.BeginObject().Key("error").String(Code).EndObject();
    return Out.Take();
}

/// Loads PATH; on failure reports as `show` and `edit` do and gives the exit status in `Exit`.
bool LoadDocument(const std::string& Argument, bool Json, TDigiLabelDoc& Doc, int& Exit)
{
    const auto File = LabelFileOf(Argument);
    if (!File) {
        Exit = UsageError("no such file or folder: " + Argument);
        return false;
    }
    std::string Code;
    try {
        if (Doc.Load(*File, Code))
            return true;
    } catch (const std::exception& Error) {
        // Exists but cannot be read at all (no access, a folder of that name).
        std::fprintf(stderr, "plumeria label: %s: cannot be read: %s\n", PathToUtf8(*File).c_str(),
                     Error.what());
        if (Json)
            std::printf("%s\n", ErrorJson("read").c_str());
        Exit = ExitFailed;
        return false;
    }
    std::fprintf(stderr, "plumeria label: %s: %s\n", PathToUtf8(*File).c_str(),
                 LabelErrorText(Code).c_str());
    if (Json)
        std::printf("%s\n", ErrorJson(Code).c_str());
    Exit = ExitFailed;
    return false;
}

void JsonField(TJsonWriter& Out, const TDigiLabelDoc& Doc, int Format, int Slot, int HeightDots)
{
    const TDigiSlot Info = GetSlot(Slot);
    const TSlotBox Box = SlotBox(Doc, Format, Slot);
    const TScreenBox Screen = ToScreenBox(HeightDots, Box.X, Box.Y, Box.W, Box.H);
    Out.BeginObject()
        .Key("slot")
        .Int(Slot)
        .Key("caption")
        .String(FieldCaption(Info))
        .Key("kind")
        .String(KindName(Info.Kind))
        .Key("x")
        .Int(Box.X)
        .Key("y")
        .Int(Box.Y)
        .Key("w")
        .Int(Box.W)
        .Key("h")
        .Int(Box.H)
        .Key("resizable")
        .Bool(Box.Resizable)
        .Key("rotation")
        .Int(SlotRotation(Doc, Format, Slot))
        .Key("print")
        .Int(Doc.ByteAt(Format, Info.Offset + 5))
        .Key("screen")
        .BeginArray()
        .Int(Screen.X)
        .Int(Screen.Y)
        .Int(Screen.W)
        .Int(Screen.H)
        .EndArray()
        .EndObject();
}

std::string ShowJson(const TDigiLabelDoc& Doc)
{
    TJsonWriter Out;
    Out.BeginObject().Key("file").String(PathToUtf8(Doc.FileName())).Key("formats").BeginArray();
    for (int Format = 0; Format < Doc.FormatCount(); ++Format) {
        int Width = 0;
        int Height = 0;
        Doc.ReadSize(Format, Width, Height);
        Out.BeginObject()
            .Key("index")
            .Int(Format)
            .Key("id")
            .Int(Doc.FormatId(Format))
            .Key("width")
            .Int(Width)
            .Key("height")
            .Int(Height)
            .Key("fields")
            .BeginArray();
        for (int Slot = 0; Slot < SlotCount(); ++Slot)
            if (Doc.Occupied(Format, Slot))
                JsonField(Out, Doc, Format, Slot, Height);
        Out.EndArray().EndObject();
    }
    Out.EndArray().EndObject();
    return Out.Take() + "\n";
}

std::string ShowText(const TDigiLabelDoc& Doc)
{
    std::string Out = "file " + PathToUtf8(Doc.FileName()) + "\n";
    char Line[256];
    for (int Format = 0; Format < Doc.FormatCount(); ++Format) {
        int Width = 0;
        int Height = 0;
        Doc.ReadSize(Format, Width, Height);
        std::snprintf(Line, sizeof Line, "format %d: id %u, %d x %d dots\n", Format,
                      Doc.FormatId(Format), Width, Height);
        Out += Line;
        for (int Slot = 0; Slot < SlotCount(); ++Slot) {
            if (!Doc.Occupied(Format, Slot))
                continue;
            const TDigiSlot Info = GetSlot(Slot);
            const TSlotBox Box = SlotBox(Doc, Format, Slot);
            std::snprintf(Line, sizeof Line,
                          "  slot %d %s \"%s\": x %d, y %d, w %d, h %d%s, rotation %d, "
                          "print 0x%02X\n",
                          Slot, KindName(Info.Kind), FieldCaption(Info).c_str(), Box.X, Box.Y,
                          Box.W, Box.H, Box.Resizable ? "" : " (fixed)",
                          SlotRotation(Doc, Format, Slot), Doc.ByteAt(Format, Info.Offset + 5));
            Out += Line;
        }
    }
    return Out;
}

/// The whole slot table: the numbers that `edit` takes.
std::string SlotTable()
{
    std::string Out;
    char Line[160];
    for (int Slot = 0; Slot < SlotCount(); ++Slot) {
        const TDigiSlot Info = GetSlot(Slot);
        std::snprintf(Line, sizeof Line, "slot %d %s \"%s\"%s\n", Slot, KindName(Info.Kind),
                      FieldCaption(Info).c_str(),
                      Info.Kind == dfLine || Info.Kind == dfLogo ? " (fixed size)" : "");
        Out += Line;
    }
    return Out;
}

int RunShow(const TArgs& Args)
{
    TArgReader Reader(Args, {}, {"json", "slots"});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (Reader.Has("slots") && Reader.Positional().empty() && !Reader.Has("json")) {
        const std::string Out = SlotTable();
        std::fwrite(Out.data(), 1, Out.size(), stdout);
        std::fflush(stdout);
        return ExitOk;
    }
    if (Reader.Positional().size() != 1 || Reader.Has("slots"))
        return UsageError("show takes one PATH, or --slots alone");
    TDigiLabelDoc Doc;
    int Exit = ExitOk;
    if (!LoadDocument(Reader.Positional()[0], Reader.Has("json"), Doc, Exit))
        return Exit;
    const std::string Out = Reader.Has("json") ? ShowJson(Doc) : ShowText(Doc);
    std::fwrite(Out.data(), 1, Out.size(), stdout);
    std::fflush(stdout);
    return ExitOk;
}

/// "WxH" in whole millimetres within the size dialog's range.
bool ParseSize(const std::string& Text, int& WidthMm, int& HeightMm)
{
    const auto Cross = Text.find_first_of("xX");
    if (Cross == std::string::npos)
        return false;
    const auto W = ParseNumber<int>(Text.substr(0, Cross));
    const auto H = ParseNumber<int>(Text.substr(Cross + 1));
    const auto InRange = [](const std::optional<int>& V) {
        return V && *V >= MinLabelMm && *V <= MaxLabelMm;
    };
    if (!InRange(W) || !InRange(H))
        return false;
    WidthMm = *W;
    HeightMm = *H;
    return true;
}

int RunNew(const TArgs& Args)
{
    TArgReader Reader(Args, {"size"}, {"replace"});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (Reader.Positional().size() != 1)
        return UsageError("new takes one FOLDER");
    int WidthMm = 0;
    int HeightMm = 0;
    if (!Reader.Value("size") || !ParseSize(*Reader.Value("size"), WidthMm, HeightMm))
        return UsageError("--size must be WxH in whole millimetres from 10 to 200");
    const std::filesystem::path Folder = PathFromUtf8(Reader.Positional()[0]);
    std::error_code Error;
    if (!std::filesystem::is_directory(Folder, Error))
        return UsageError("no such folder: " + Reader.Positional()[0]);
    const std::filesystem::path File = Folder / LabelFileName;
    if (std::filesystem::exists(File, Error) && !Reader.Has("replace"))
        return UsageError(PathToUtf8(File) + " exists (--replace replaces it)");
    TDigiLabelDoc Doc;
    std::string Code;
    try {
        if (!Doc.CreateEmpty(File, WidthMm * DotsPerMm, HeightMm * DotsPerMm, Code))
            return Failed(PathToUtf8(File) + ": " + LabelErrorText(Code));
    } catch (const std::exception& Failure) {
        return Failed(Failure.what());
    }
    return ExitOk;
}

/// One edit of one field: the operation's name, its slot and up to two numbers.
struct TFieldEdit
{
    std::string Operation;
    int Slot = 0;
    int A = 0;
    int B = 0;
};

int ArgumentCount(const std::string& Operation)
{
    if (Operation == "--clear")
        return 1;
    if (Operation == "--place" || Operation == "--move" || Operation == "--resize")
        return 3;
    return 0;
}

/// Takes the one field operation with its numbers out of `Args`; the rest is left for the
/// option reader. An error message, or empty.
std::string TakeFieldEdit(TArgs& Args, TFieldEdit& Edit)
{
    const std::string OneOf = "give one of --place, --move, --resize, --clear";
    std::size_t I = 0;
    while (I < Args.size()) {
        const auto Count = static_cast<std::size_t>(ArgumentCount(Args[I]));
        if (Count == 0) {
            ++I;
            continue;
        }
        if (!Edit.Operation.empty())
            return OneOf;
        if (I + Count >= Args.size())
            return Args[I] + " needs " + (Count == 1 ? "SLOT" : "SLOT and two numbers");
        Edit.Operation = Args[I];
        int Values[3] = {0, 0, 0};
        for (std::size_t K = 0; K < Count; ++K) {
            const std::string& Text = Args[I + 1 + K];
            const auto Value = ParseNumber<int>(Text);
            if (!Value)
                return Edit.Operation + ": not a whole number: " + Text;
            Values[K] = *Value;
        }
        if (Values[0] < 0 || Values[0] >= SlotCount())
            return "SLOT must be from 0 to " + std::to_string(SlotCount() - 1);
        Edit.Slot = Values[0];
        Edit.A = Values[1];
        Edit.B = Values[2];
        const auto First = Args.begin() + static_cast<std::ptrdiff_t>(I);
        Args.erase(First, First + static_cast<std::ptrdiff_t>(1 + Count));
    }
    return Edit.Operation.empty() ? OneOf : "";
}

/// The format the designer would show for `Id`: the last record with that number.
int FindFormat(const TDigiLabelDoc& Doc, std::uint32_t Id)
{
    int Found = -1;
    for (int Format = 0; Format < Doc.FormatCount(); ++Format)
        if (Doc.FormatId(Format) == Id)
            Found = Format;
    return Found;
}

int RunEdit(TArgs Args)
{
    TFieldEdit Edit;
    if (const std::string Error = TakeFieldEdit(Args, Edit); !Error.empty())
        return UsageError(Error);
    TArgReader Reader(Args, {"format"}, {});
    if (!Reader.Ok())
        return UsageError(Reader.Error());
    if (Reader.Positional().size() != 1)
        return UsageError("edit takes one PATH");
    const auto Id =
        Reader.Value("format") ? ParseNumber<std::uint32_t>(*Reader.Value("format")) : std::nullopt;
    if (!Id)
        return UsageError("--format must be a format number");

    TDigiLabelDoc Doc;
    int Exit = ExitOk;
    if (!LoadDocument(Reader.Positional()[0], false, Doc, Exit))
        return Exit;
    const int Format = FindFormat(Doc, *Id);
    if (Format < 0)
        return Failed("no format " + std::to_string(*Id) + " in " + PathToUtf8(Doc.FileName()));
    const bool Present = Doc.Occupied(Format, Edit.Slot);
    const std::string Field = "field " + std::to_string(Edit.Slot);
    const std::string OnFormat = " format " + std::to_string(*Id);
    if (!Present && (Edit.Operation == "--move" || Edit.Operation == "--resize"))
        return Failed(Field + " is not on" + OnFormat);
    // Placing again would reset every attribute of the field to its default.
    if (Present && Edit.Operation == "--place")
        return Failed(Field + " is already placed on" + OnFormat + " (--move moves it)");
    const TDigiFieldKind Kind = GetSlot(Edit.Slot).Kind;
    if (Edit.Operation == "--resize" && (Kind == dfLine || Kind == dfLogo))
        return Failed(Field + " (" + KindName(Kind) + ") cannot be resized");
    if (Edit.Operation == "--place")
        Doc.PlaceDefault(Format, Edit.Slot, Edit.A, Edit.B);
    else if (Edit.Operation == "--move")
        Doc.MoveSlot(Format, Edit.Slot, Edit.A, Edit.B);
    else if (Edit.Operation == "--resize")
        Doc.ResizeSlot(Format, Edit.Slot, Edit.A, Edit.B);
    else
        Doc.ClearSlot(Format, Edit.Slot);
    std::string Code;
    try {
        if (!Doc.Save(Code))
            return Failed(PathToUtf8(Doc.FileName()) + ": " + LabelErrorText(Code));
    } catch (const std::exception& Failure) {
        return Failed(Failure.what());
    }
    return ExitOk;
}

} // namespace

int RunLabel(const TArgs& Args)
{
    if (Args.empty())
        return UsageError("no label command given");
    if (Args[0] == "--help" || Args[0] == "-h" || Args[0] == "help") {
        std::printf("%s\n", LabelUsage);
        return ExitOk;
    }
    const TArgs Rest(Args.begin() + 1, Args.end());
    if (Args[0] == "show")
        return RunShow(Rest);
    if (Args[0] == "new")
        return RunNew(Rest);
    if (Args[0] == "edit")
        return RunEdit(Rest);
    return UsageError("unknown label command '" + Args[0] + "'");
}

} // namespace Plumeria::Tool
