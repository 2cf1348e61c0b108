#include "core/Settings/Settings.h"

#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "platform/AtomicFile.h"
#include "platform/Autostart.h"
#include "platform/Environment.h"

// Section and key names fold ASCII letters only, and values pass through as bytes: the document
// is always handed UTF-8 text, so no conversion inside the INI reader is wanted.
#define SI_NO_CONVERSION
// Debian's packaging keeps the template bodies behind this switch (upstream always has them).
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace Plumeria {

namespace {

constexpr const char* GeneralSection = "General";
constexpr int ErasedScaleSections = 100;

std::string ScaleSection(std::size_t Index)
{
    return "Scale" + std::to_string(Index);
}

// --- File bytes to UTF-8 text ----------------------------------------------------------------

std::string Utf16BytesToUtf8(std::string_view Bytes, bool BigEndian)
{
    std::u16string Units;
    Units.reserve(Bytes.size() / 2);
    for (std::size_t I = 0; I + 1 < Bytes.size(); I += 2) {
        const auto B0 = static_cast<unsigned char>(Bytes[I]);
        const auto B1 = static_cast<unsigned char>(Bytes[I + 1]);
        Units.push_back(static_cast<char16_t>(BigEndian ? (B0 << 8) | B1 : (B1 << 8) | B0));
    }
    return Utf16ToUtf8(Units);
}

// A file without a byte-order mark that holds NUL bytes is UTF-16 in all likelihood (ASCII text
// saved by a "Unicode" editor); the side where the NULs sit tells the byte order.
bool LooksLikeUtf16(std::string_view Bytes, bool& BigEndian)
{
    std::size_t EvenNuls = 0;
    std::size_t OddNuls = 0;
    for (std::size_t I = 0; I < Bytes.size(); ++I) {
        if (Bytes[I] == '\0')
            ++(I % 2 == 0 ? EvenNuls : OddNuls);
    }
    // ASCII-heavy UTF-16 has a NUL in most units and nearly all on one side; a stray NUL in
    // 8-bit text does not qualify.
    const std::size_t Dominant = EvenNuls > OddNuls ? EvenNuls : OddNuls;
    const std::size_t Minor = EvenNuls > OddNuls ? OddNuls : EvenNuls;
    if (Dominant == 0 || Bytes.size() % 2 != 0 || Dominant * 4 < Bytes.size() ||
        Minor * 4 > Dominant)
        return false;
    BigEndian = EvenNuls > OddNuls;
    return true;
}

/// Removes every UTF-8 byte-order mark that begins a line (a run of them included).
void RemoveMarksAtLineStarts(std::string& Text)
{
    constexpr std::string_view Mark = "\xEF\xBB\xBF";
    std::string Kept;
    Kept.reserve(Text.size());
    bool LineStart = true;
    for (std::size_t Pos = 0; Pos < Text.size();) {
        if (LineStart && std::string_view(Text).substr(Pos).starts_with(Mark)) {
            Pos += Mark.size();
            continue;
        }
        LineStart = Text[Pos] == '\n' || Text[Pos] == '\r';
        Kept += Text[Pos++];
    }
    Text.swap(Kept);
}

/// A line that opens a section with "[" but has no "]" is no section. The INI reader skips such
/// a line but keeps its text as the name of the section the following keys go to, a name with a
/// line break in it: every save then wrote that broken header again with one more line, and the
/// file grew with each save. Made a comment, the line stays in the file and changes nothing.
void CommentOutBrokenSections(std::string& Text)
{
    // The reader ends a line at either byte of a line break, and skips blanks before a "[".
    const auto IsBreak = [](char C) { return C == '\n' || C == '\r'; };
    for (std::size_t Pos = 0; Pos < Text.size();) {
        std::size_t Start = Pos;
        while (Start < Text.size() && (Text[Start] == ' ' || Text[Start] == '\t'))
            ++Start;
        std::size_t End = Start;
        while (End < Text.size() && !IsBreak(Text[End]))
            ++End;
        const std::string_view Line(Text.data() + Start, End - Start);
        if (Line.starts_with('[') && Line.find(']') == std::string_view::npos) {
            Text.insert(Start, 1, ';');
            ++End;
        }
        Pos = End + 1;
    }
}

/// UTF-8 (with or without BOM), UTF-16 with BOM, or else per line UTF-8 or code page 1251.
std::string DecodeIniBytes(std::string_view Bytes)
{
    std::string Text;
    bool BigEndian = false;
    if (Bytes.starts_with("\xEF\xBB\xBF")) {
        // A line added by a tool that writes 1251 keeps its Cyrillic text: like a file without
        // the mark, the text is judged line by line.
        Text = DecodeLinesUtf8Or1251(Bytes.substr(3));
    } else if (Bytes.starts_with("\xFF\xFE"))
        Text = Utf16BytesToUtf8(Bytes.substr(2), false);
    else if (Bytes.starts_with("\xFE\xFF"))
        Text = Utf16BytesToUtf8(Bytes.substr(2), true);
    else if (LooksLikeUtf16(Bytes, BigEndian))
        Text = Utf16BytesToUtf8(Bytes, BigEndian);
    else
        Text = DecodeLinesUtf8Or1251(Bytes);
    // The INI reader stops at a NUL; a stray one must not hide the rest of the file (which the
    // next save would then drop).
    std::erase(Text, '\0');
    // The INI reader skips one byte-order mark at the start only. Marks also begin lines where
    // files were joined; left there, a mark became part of the first key or section name, and a
    // save that put that line first turned it into the file's own mark, read away on the next
    // load. So every mark that begins a line goes here, before the lines are judged.
    RemoveMarksAtLineStarts(Text);
    CommentOutBrokenSections(Text);
    return Text;
}

enum class TReadOutcome
{
    roMissing,
    roRead,
    roFailed
};

TReadOutcome ReadWholeFile(const std::filesystem::path& Path, std::string& Bytes, int& Error)
{
    std::error_code Status;
    if (!std::filesystem::exists(Path, Status)) {
        if (Status)
            return TReadOutcome::roFailed;
        // A link whose target is gone (a share not mounted yet) is a file that cannot be read,
        // not a first start: defaults written through it would replace the user's file later.
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(Path, Status))) {
            Error = ENOENT;
            return TReadOutcome::roFailed;
        }
        return TReadOutcome::roMissing;
    }
    if (!std::filesystem::is_regular_file(Path, Status)) {
        Error = std::filesystem::is_directory(Path, Status) ? EISDIR : EINVAL;
        return TReadOutcome::roFailed;
    }
    errno = 0;
    std::ifstream In(Path, std::ios::binary);
    if (In) {
        Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
        if (!In.bad())
            return TReadOutcome::roRead;
    }
    Error = errno != 0 ? errno : EIO;
    return TReadOutcome::roFailed;
}

// --- Reading values ---------------------------------------------------------------------------

/// Hand-edited files put comments after values ("ScaleCount=1 ; весы в зале"): a ";" or "#"
/// after a blank starts one.
std::string Uncommented(std::string_view Value)
{
    for (std::size_t I = 1; I < Value.size(); ++I)
        if ((Value[I] == ';' || Value[I] == '#') && (Value[I - 1] == ' ' || Value[I - 1] == '\t'))
            return Trim(Value.substr(0, I));
    return Trim(Value);
}

class TIniReader
{
public:
    explicit TIniReader(const CSimpleIniA& Ini) : FIni(Ini) {}

    const char* Raw(const std::string& Section, const char* Key) const
    {
        return FIni.GetValue(Section.c_str(), Key, nullptr);
    }

    std::string Text(const std::string& Section, const char* Key, const char* Default) const
    {
        const char* Value = Raw(Section, Key);
        return Value ? std::string(Value) : std::string(Default);
    }

    /// Decimal, or hexadecimal after 0x, with a trailing " ;comment" ignored; missing gives
    /// `Default`, and so does a value that is no number, with a warning.
    std::int32_t Int(const std::string& Section, const char* Key, std::int32_t Default) const
    {
        const char* Value = Raw(Section, Key);
        if (!Value)
            return Default;
        std::int32_t Number = 0;
        if (TryParseInt32(Uncommented(Value), Number))
            return Number;
        Unreadable(Section, Key, Value, std::to_string(Default));
        return Default;
    }

    /// 1/0, true/false, yes/no, on/off in any letter case, or any integer (not 0: true), with a
    /// trailing " ;comment" ignored; anything else gives `Default`, with a warning.
    bool Bool(const std::string& Section, const char* Key, bool Default) const
    {
        const char* Value = Raw(Section, Key);
        if (!Value)
            return Default;
        const std::string Word = AsciiLower(Uncommented(Value));
        if (Word == "true" || Word == "yes" || Word == "on")
            return true;
        if (Word == "false" || Word == "no" || Word == "off")
            return false;
        std::int32_t Number = 0;
        if (TryParseInt32(Word, Number))
            return Number != 0;
        Unreadable(Section, Key, Value, Default ? "1" : "0");
        return Default;
    }

    bool HasSection(const std::string& Section) const
    {
        return FIni.GetSection(Section.c_str()) != nullptr;
    }

private:
    static void Unreadable(const std::string& Section, const char* Key, const char* Value,
                           const std::string& Default)
    {
        LogWarn("settings: [" + Section + "] " + Key + "=" + Value +
                " cannot be read; the default " + Default + " is used");
    }

public:
private:
    const CSimpleIniA& FIni;
};

TScaleConfig ReadScale(const TIniReader& Reader, const std::string& Section)
{
    TScaleConfig Scale;
    Scale.Enabled = Reader.Bool(Section, "Enabled", false);
    Scale.Host = Trim(Reader.Text(Section, "Host", ""));
    Scale.Port = Reader.Int(Section, "Port", 2000);
    Scale.Kind = TScaleKind::skDigi;
    TryScaleKindFromId(Reader.Text(Section, "Kind", "digi"), Scale.Kind);
    Scale.Model = Trim(Reader.Text(Section, "Model", ""));
    Scale.FileCodePage = Reader.Int(Section, "FileCodePage", 1251) == 866 ? 866 : 1251;
    Scale.FileMask = Trim(Reader.Text(Section, "FileMask", "*"));
    if (Scale.FileMask.empty())
        Scale.FileMask = "*";
    // Trimmed again after the cut: blanks the cut brings to the end would be trimmed by the next
    // load, which would then read another name than this one.
    Scale.Name = Trim(Utf16Prefix(Trim(Reader.Text(Section, "Name", "")), MaxScaleNameLength));
    return Scale;
}

/// How many [ScaleN] sections to read. A ScaleCount that is missing or no number would drop
/// every scale (and the next save would erase them): the sections that are there count instead.
std::int32_t ScaleCountOf(const TIniReader& Reader)
{
    const std::string General = GeneralSection;
    const char* Value = Reader.Raw(General, "ScaleCount");
    std::int32_t Count = 0;
    std::int32_t Present = 0;
    while (Present < MaxScaleCount + 1 &&
           Reader.HasSection(ScaleSection(static_cast<std::size_t>(Present))))
        ++Present;
    if (!Value || !TryParseInt32(Uncommented(Value), Count) || Count < 0) {
        if (Present > 0 || Value)
            LogWarn(std::string("settings: [General] ScaleCount=") + (Value ? Value : "(missing)") +
                    " cannot be read; the " + std::to_string(std::min(Present, MaxScaleCount)) +
                    " [ScaleN] sections present are read");
        Count = Present;
    }
    if (Count > MaxScaleCount) {
        LogWarn("settings: " + std::to_string(Count) + " scales, more than the " +
                std::to_string(MaxScaleCount) + " this program handles; the scales after " +
                std::to_string(MaxScaleCount) + " are not read and stay in the file as they are");
        Count = MaxScaleCount;
    }
    return Count;
}

/// A save interrupted by a crash or a power cut leaves its temporary file beside the settings.
void RemoveInterruptedSaves(const std::filesystem::path& Path)
{
    std::error_code Error;
    const std::string Prefix = Path.filename().string() + ".tmp.";
    for (std::filesystem::directory_iterator It(Path.parent_path(), Error), End;
         !Error && It != End; It.increment(Error))
        if (It->path().filename().string().rfind(Prefix, 0) == 0 && It->is_regular_file(Error)) {
            std::error_code Ignored;
            std::filesystem::remove(It->path(), Ignored);
        }
}

// --- Writing values ---------------------------------------------------------------------------

// A line break inside a value would end the line early and turn the rest into keys or sections
// of their own; write it as a space instead.
std::string OneLine(std::string_view Value)
{
    std::string Line(Value);
    for (char& C : Line) {
        if (C == '\n' || C == '\r')
            C = ' ';
    }
    return Line;
}

void Put(CSimpleIniA& Ini, const std::string& Section, const char* Key, std::string_view Value)
{
    if (Ini.SetValue(Section.c_str(), Key, OneLine(Value).c_str()) < 0)
        throw std::runtime_error("cannot store the setting " + Section + "/" + Key);
}

void PutInt(CSimpleIniA& Ini, const std::string& Section, const char* Key, std::int64_t Value)
{
    Put(Ini, Section, Key, std::to_string(Value));
}

void PutBool(CSimpleIniA& Ini, const std::string& Section, const char* Key, bool Value)
{
    Put(Ini, Section, Key, Value ? "1" : "0");
}

void ConfigureIni(CSimpleIniA& Ini)
{
    Ini.SetUnicode(true);
    Ini.SetMultiKey(false);
    Ini.SetMultiLine(false);
    Ini.SetQuotes(false);
    Ini.SetSpaces(false); // key=value, as Windows tools write it
}

} // namespace

void TLoaderSettings::ResetDefaults()
{
    WatchFolder.clear();
    FileMask = DefaultWatchMask;
    AutoUpdate = true;
    RunWithWindows = true;
    ConnectTimeoutMs = DefaultConnectTimeoutMs;
    AdapterIp.clear();
    LogLevel = TLogLevel::llMaximum;
    Scales.clear();
}

std::filesystem::path TLoaderSettings::IniPath() const
{
    return DataFolder() / "settings.ini";
}

bool TLoaderSettings::Load()
{
    ResetDefaults();
    FLoadFailed = false;
    const std::filesystem::path Path = IniPath();
    RemoveInterruptedSaves(Path);
    std::string Bytes;
    int Error = 0;
    const auto Failed = [&](const std::string& Reason) {
        LogError("cannot read settings: " + PathToUtf8(Path) + ": " + Reason);
        FLoadFailed = true;
        return false;
    };
    switch (ReadWholeFile(Path, Bytes, Error)) {
    case TReadOutcome::roMissing:
        return true;
    case TReadOutcome::roFailed:
        return Failed(std::error_code(Error, std::generic_category()).message());
    case TReadOutcome::roRead:
        break;
    }

    CSimpleIniA Ini;
    ConfigureIni(Ini);
    if (Ini.LoadData(DecodeIniBytes(Bytes)) < 0)
        return Failed("the file cannot be decoded");
    const TIniReader Reader(Ini);
    const std::string General = GeneralSection;

    WatchFolder = Reader.Text(General, "WatchFolder", "");
    FileMask = Reader.Text(General, "FileMask", DefaultWatchMask);
    if (Trim(FileMask).empty())
        FileMask = DefaultWatchMask;
    AutoUpdate = Reader.Bool(General, "AutoUpdate", true);
    RunWithWindows = Reader.Bool(General, "RunWithWindows", true);
    ConnectTimeoutMs = Reader.Int(General, "ConnectTimeoutMs", DefaultConnectTimeoutMs);
    if (ConnectTimeoutMs < MinConnectTimeoutMs || ConnectTimeoutMs > MaxConnectTimeoutMs)
        ConnectTimeoutMs = DefaultConnectTimeoutMs;
    AdapterIp = Trim(Reader.Text(General, "AdapterIp", ""));
    LogLevel = TLogLevel::llMaximum;
    TryParseLogLevel(Reader.Text(General, "LogLevel", "max"), LogLevel);

    Scales.resize(static_cast<std::size_t>(ScaleCountOf(Reader)));
    for (std::size_t I = 0; I < Scales.size(); ++I)
        Scales[I] = ReadScale(Reader, ScaleSection(I));
    return true;
}

void TLoaderSettings::Save() const
{
    const std::filesystem::path Path = IniPath();
    // What this object holds are defaults standing in for a file it could not read; written
    // out, they would replace every scale the user has.
    if (FLoadFailed)
        throw std::runtime_error("the settings file could not be read at start; " +
                                 PathToUtf8(Path) + " is kept as it is");
    std::filesystem::create_directories(Path.parent_path());

    CSimpleIniA Ini;
    ConfigureIni(Ini);
    std::string Bytes;
    int Error = 0;
    switch (ReadWholeFile(Path, Bytes, Error)) {
    case TReadOutcome::roMissing:
        break;
    case TReadOutcome::roRead:
        if (Ini.LoadData(DecodeIniBytes(Bytes)) < 0)
            throw std::runtime_error("cannot parse the settings file " + PathToUtf8(Path));
        break;
    case TReadOutcome::roFailed:
        // Writing now would drop every key of the old file that this program does not know.
        throw std::filesystem::filesystem_error("cannot read the settings file", Path,
                                                std::error_code(Error, std::generic_category()));
    }

    const std::string General = GeneralSection;
    Put(Ini, General, "WatchFolder", WatchFolder);
    Put(Ini, General, "FileMask", FileMask);
    Ini.Delete(GeneralSection, "ScanPort");
    Ini.Delete(GeneralSection, "DefaultKind");
    PutBool(Ini, General, "AutoUpdate", AutoUpdate);
    PutBool(Ini, General, "RunWithWindows", RunWithWindows);
    PutInt(Ini, General, "ConnectTimeoutMs", ConnectTimeoutMs);
    Put(Ini, General, "AdapterIp", AdapterIp);
    Put(Ini, General, "LogLevel", LogLevelName(LogLevel));
    PutInt(Ini, General, "ScaleCount", static_cast<std::int64_t>(Scales.size()));

    for (int I = 0; I < ErasedScaleSections; ++I)
        Ini.Delete(ScaleSection(static_cast<std::size_t>(I)).c_str(), nullptr);

    for (std::size_t I = 0; I < Scales.size(); ++I) {
        const TScaleConfig& Scale = Scales[I];
        const std::string Section = ScaleSection(I);
        PutBool(Ini, Section, "Enabled", Scale.Enabled);
        Put(Ini, Section, "Host", Scale.Host);
        PutInt(Ini, Section, "Port", Scale.Port);
        Put(Ini, Section, "Kind", ScaleKindId(Scale.Kind));
        Put(Ini, Section, "Model", Scale.Model);
        PutInt(Ini, Section, "FileCodePage", Scale.FileCodePage);
        Put(Ini, Section, "FileMask", Scale.FileMask);
        Put(Ini, Section, "Name", Scale.Name);
    }

    std::string Text;
    if (Ini.Save(Text, false) < 0)
        throw std::runtime_error("cannot format the settings file " + PathToUtf8(Path));
    // Through a link (settings kept on a share), the link's target is replaced and the link kept.
    std::error_code LinkError;
    const std::filesystem::path Target =
        std::filesystem::is_symlink(std::filesystem::symlink_status(Path, LinkError))
            ? std::filesystem::canonical(Path)
            : Path;
    WriteFileAtomically(Target, Text);
}

void TLoaderSettings::Assign(const TLoaderSettings& Source)
{
    if (this == &Source)
        return;
    WatchFolder = Source.WatchFolder;
    FileMask = Source.FileMask;
    AutoUpdate = Source.AutoUpdate;
    RunWithWindows = Source.RunWithWindows;
    ConnectTimeoutMs = Source.ConnectTimeoutMs;
    AdapterIp = Source.AdapterIp;
    LogLevel = Source.LogLevel;
    Scales = Source.Scales;
}

bool operator==(const TLoaderSettings& A, const TLoaderSettings& B)
{
    return A.WatchFolder == B.WatchFolder && A.FileMask == B.FileMask &&
           A.AutoUpdate == B.AutoUpdate && A.RunWithWindows == B.RunWithWindows &&
           A.ConnectTimeoutMs == B.ConnectTimeoutMs && A.AdapterIp == B.AdapterIp &&
           A.LogLevel == B.LogLevel && A.Scales == B.Scales;
}

std::string ScaleDisplayName(const TScaleConfig& Config)
{
    const std::string Name = Trim(Config.Name);
    const std::string Host = Trim(Config.Host);
    if (Name.empty())
        return Host;
    if (Host.empty())
        return Name;
    return Name + "  " + Host;
}

bool ApplyAutostart(bool Enabled)
{
    if (!Enabled)
        return RemoveAutostartEntry();
    const std::filesystem::path Executable = ExecutablePath();
    return !Executable.empty() && WriteAutostartEntry(Executable);
}

} // namespace Plumeria
