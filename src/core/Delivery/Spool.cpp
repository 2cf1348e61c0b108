#include "core/Delivery/Spool.h"

#include "core/Text/Text.h"
#include "core/Text/Utf8Decode.h"
#include "platform/AtomicFile.h"
#include "platform/Environment.h"
#include "platform/FileOps.h"
#include "platform/FileSwap.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <set>
#include <span>
#include <system_error>

namespace Plumeria {

namespace fs = std::filesystem;

namespace {

/// Names the scale whose folder it is: "host\nport\n". Folder names cannot carry every host.
constexpr const char* OwnerFileName = "scale.txt";
constexpr std::size_t SeqDigits = 10;
/// Enough to tell hosts apart at a glance; the owner file tells them apart for sure.
constexpr std::size_t MaxHostInFolderName = 100;
constexpr std::size_t WriteChunk = 1024 * 1024;
/// Folders of other scales whose names sanitize alike get "+2", "+3", ...; "+" never comes out
/// of the sanitizing, so these names cannot meet a plain one.
constexpr int MaxNameTwins = 1000;

// Lower case: where names ignore case, "Scale1" and "scale1" would otherwise be one folder that
// the look-up by name takes for two.
std::string FolderBaseName(const std::string& Host, int Port)
{
    std::string Name;
    for (const char C : Host.substr(0, MaxHostInFolderName)) {
        if (C >= 'A' && C <= 'Z')
            Name += static_cast<char>(C - 'A' + 'a');
        else if ((C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '.' || C == '-')
            Name += C;
        else
            Name += '_';
    }
    return Name + "_" + std::to_string(Port);
}

std::string SeqText(std::uint64_t Seq)
{
    char Text[32];
    std::snprintf(Text, sizeof Text, "%0*llu", static_cast<int>(SeqDigits),
                  static_cast<unsigned long long>(Seq));
    return Text;
}

/// Bytes of the file name part of an entry's name at most: with the sequence number and the
/// temporary copy's marks it stays well inside every file system's name limit (255).
constexpr std::size_t MaxNamePart = 200;

/// The file name as it can stand in an entry's name. "%", "\" (a separator on Windows) and every
/// byte that is not part of UTF-8 text become "%XX"; a name that is then too long is cut, never
/// inside a character or an escape, and `Cut` is set (its whole name is kept beside the copy).
std::string EscapedNamePart(std::string_view FileName, bool& Cut)
{
    const auto Escaped = [](char C) {
        char Hex[4];
        std::snprintf(Hex, sizeof Hex, "%%%02X", static_cast<unsigned char>(C));
        return std::string(Hex);
    };
    std::string Part;
    Cut = false;
    for (std::size_t Pos = 0; Pos < FileName.size();) {
        const auto Byte = static_cast<unsigned char>(FileName[Pos]);
        std::string Piece;
        std::size_t Length = 1;
        if (Byte == '%' || Byte == '\\' || Byte < 0x20) {
            Piece = Escaped(FileName[Pos]);
        } else if (Byte < 0x80) {
            Piece = std::string(1, FileName[Pos]);
        } else if (const TUtf8Step Step = DecodeUtf8Step(FileName, Pos); Step.Valid) {
            Length = Step.Length;
            Piece = std::string(FileName.substr(Pos, Length));
        } else {
            Piece = Escaped(FileName[Pos]);
        }
        if (Part.size() + Piece.size() > MaxNamePart) {
            Cut = true;
            break;
        }
        Part += Piece;
        Pos += Length;
    }
    return Part;
}

std::string UnescapedNamePart(std::string_view Part)
{
    std::string Name;
    for (std::size_t Pos = 0; Pos < Part.size(); ++Pos) {
        if (Part[Pos] == '%' && Pos + 2 < Part.size() && HexDigitValue(Part[Pos + 1]) >= 0 &&
            HexDigitValue(Part[Pos + 2]) >= 0) {
            Name +=
                static_cast<char>(HexDigitValue(Part[Pos + 1]) * 16 + HexDigitValue(Part[Pos + 2]));
            Pos += 2;
        } else {
            Name += Part[Pos];
        }
    }
    return Name;
}

/// Beside a copy whose name had to be cut: its file's whole name.
fs::path FullNameFile(const fs::path& Folder, std::uint64_t Seq)
{
    return Folder / PathFromUtf8(SeqText(Seq) + ".name");
}

/// "<seq>-<file name>": false for anything else in the folder (the owner file, a leftover
/// temporary copy, a whole name kept beside a copy, a stranger's file).
bool ParseEntryName(const std::string& Name, std::uint64_t& Seq, std::string& FileName)
{
    if (Name.size() <= SeqDigits + 1 || Name[SeqDigits] != '-')
        return false;
    Seq = 0;
    for (std::size_t I = 0; I < SeqDigits; ++I) {
        if (Name[I] < '0' || Name[I] > '9')
            return false;
        Seq = Seq * 10 + static_cast<std::uint64_t>(Name[I] - '0');
    }
    FileName = UnescapedNamePart(std::string_view(Name).substr(SeqDigits + 1));
    return true;
}

bool IsLeftoverPart(const std::string& Name)
{
    return Name.starts_with('~') && Name.ends_with(".part");
}

std::int64_t UnixSecondsOf(fs::file_time_type Time)
{
    const auto System = std::chrono::file_clock::to_sys(Time);
    return std::chrono::duration_cast<std::chrono::seconds>(System.time_since_epoch()).count();
}

bool ReadOwner(const fs::path& Folder, std::string& Host, int& Port)
{
    std::ifstream In(Folder / OwnerFileName, std::ios::binary);
    std::string PortText;
    if (!In || !std::getline(In, Host) || !std::getline(In, PortText))
        return false;
    try {
        std::size_t Used = 0;
        Port = std::stoi(PortText, &Used);
        return Used == PortText.size();
    } catch (const std::exception&) {
        return false;
    }
}

bool IsOwnedBy(const fs::path& Folder, const std::string& Host, int Port)
{
    std::string OwnerHost;
    int OwnerPort = 0;
    return ReadOwner(Folder, OwnerHost, OwnerPort) && OwnerHost == Host && OwnerPort == Port;
}

/// The copies in one scale folder, oldest first.
std::vector<TSpoolEntry> ListEntries(const fs::path& Folder)
{
    std::vector<TSpoolEntry> Entries;
    std::set<std::string> WholeNames; ///< the "<seq>.name" files seen
    std::error_code Error;
    for (fs::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error)) {
        TSpoolEntry Entry;
        const std::string Name = PathToUtf8(It->path().filename());
        if (Name.ends_with(".name"))
            WholeNames.insert(Name);
        if (!ParseEntryName(Name, Entry.Seq, Entry.FileName))
            continue;
        std::error_code Failed;
        if (!It->is_regular_file(Failed))
            continue;
        Entry.Path = It->path();
        Entry.Bytes = static_cast<std::int64_t>(It->file_size(Failed));
        const auto Modified = It->last_write_time(Failed);
        if (Failed)
            continue; // gone meanwhile
        Entry.AddedUnixSeconds = UnixSecondsOf(Modified);
        Entries.push_back(std::move(Entry));
    }
    // Only the few copies whose names were cut have a whole name to read.
    for (TSpoolEntry& Entry : Entries) {
        if (!WholeNames.contains(SeqText(Entry.Seq) + ".name"))
            continue;
        std::ifstream Whole(FullNameFile(Folder, Entry.Seq), std::ios::binary);
        const std::string Name{std::istreambuf_iterator<char>(Whole),
                               std::istreambuf_iterator<char>()};
        if (Whole && !Name.empty())
            Entry.FileName = Name;
    }
    std::sort(Entries.begin(), Entries.end(),
              [](const TSpoolEntry& A, const TSpoolEntry& B) { return A.Seq < B.Seq; });
    return Entries;
}

/// A copy whose write a crash cut short: never whole, never listed, so it goes.
void RemoveLeftoverParts(const fs::path& Folder)
{
    std::vector<fs::path> Parts;
    std::error_code Error;
    for (fs::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error))
        if (IsLeftoverPart(PathToUtf8(It->path().filename())))
            Parts.push_back(It->path());
    for (const fs::path& Part : Parts)
        fs::remove(Part, Error);
}

/// Every name directly in `Folder` (empty when it cannot be listed).
std::set<std::string> NamesIn(const fs::path& Folder)
{
    std::set<std::string> Names;
    std::error_code Error;
    for (fs::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error))
        Names.insert(PathToUtf8(It->path().filename()));
    return Names;
}

std::vector<fs::path> ScaleFolders(const fs::path& Spool)
{
    std::vector<fs::path> Folders;
    std::error_code Error;
    for (fs::directory_iterator It(Spool, Error), End; !Error && It != End; It.increment(Error)) {
        std::error_code Failed;
        if (It->is_directory(Failed))
            Folders.push_back(It->path());
    }
    return Folders;
}

bool ValidFileName(const std::string& Name)
{
    return !Name.empty() && Name != "." && Name != ".." &&
           Name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

} // namespace

TSpool::TSpool(fs::path Folder, TSpoolLimits Limits) : FFolder(std::move(Folder)), FLimits(Limits)
{
}

fs::path TSpool::ScaleFolder(const std::string& Host, int Port) const
{
    const std::string Base = FolderBaseName(Host, Port);
    const auto TwinName = [&](int Twin) {
        return Twin == 1 ? Base : Base + "+" + std::to_string(Twin);
    };
    const std::set<std::string> Taken = NamesIn(FFolder);
    std::error_code Error;
    if (Taken.contains(Base)) {
        const fs::path Folder = FFolder / PathFromUtf8(Base);
        // A crash between making the folder and naming its owner: the plain name is its own.
        if (IsOwnedBy(Folder, Host, Port) || !fs::exists(Folder / OwnerFileName, Error))
            return Folder;
    }
    for (const std::string& Name : Taken) {
        if (Name.starts_with(Base + "+") && IsOwnedBy(FFolder / PathFromUtf8(Name), Host, Port))
            return FFolder / PathFromUtf8(Name);
    }
    for (int Twin = 1; Twin <= MaxNameTwins; ++Twin) {
        if (!Taken.contains(TwinName(Twin)))
            return FFolder / PathFromUtf8(TwinName(Twin));
    }
    return {};
}

bool TSpool::Add(const std::string& Host, int Port, const std::string& FileName,
                 const std::string& Bytes, std::string& Error)
{
    if (!ValidFileName(FileName)) {
        Error = "not a file name: '" + FileName + "'";
        return false;
    }
    const fs::path Folder = ScaleFolder(Host, Port);
    if (Folder.empty()) {
        Error = "no spool folder left for " + Host + ":" + std::to_string(Port);
        return false;
    }
    std::error_code Failed;
    const bool Created = fs::create_directories(Folder, Failed);
    if (Failed) {
        Error = "cannot create " + PathToUtf8(Folder) + ": " + Failed.message();
        return false;
    }
    const auto GiveUp = [&](const fs::path& Part, const std::string& Why) {
        std::error_code Ignored;
        fs::remove(Part, Ignored);
        if (Created)
            fs::remove_all(Folder, Ignored);
        Error = Why;
        return false;
    };
    if (!fs::exists(Folder / OwnerFileName, Failed)) {
        try {
            WriteFileAtomically(Folder / OwnerFileName, Host + "\n" + std::to_string(Port) + "\n");
        } catch (const std::exception& Why) {
            return GiveUp({}, Why.what());
        }
    }
    RemoveLeftoverParts(Folder);

    const std::vector<TSpoolEntry> Existing = ListEntries(Folder);
    const std::uint64_t Seq = Existing.empty() ? 1 : Existing.back().Seq + 1;
    bool Cut = false;
    const std::string NamePart = EscapedNamePart(FileName, Cut);
    const fs::path Part = Folder / PathFromUtf8("~" + SeqText(Seq) + "-" + NamePart + ".part");
    const fs::path Final = Folder / PathFromUtf8(SeqText(Seq) + "-" + NamePart);
    // The whole name goes first: a copy is never listed under a name it was not given. One left
    // by a crash before its copy belongs to nobody, and goes or is replaced here.
    try {
        std::error_code Ignored;
        if (Cut)
            WriteFileAtomically(FullNameFile(Folder, Seq), FileName);
        else
            fs::remove(FullNameFile(Folder, Seq), Ignored);
    } catch (const std::exception& Failure) {
        return GiveUp({}, Failure.what());
    }
    const std::span<const std::uint8_t> Data(reinterpret_cast<const std::uint8_t*>(Bytes.data()),
                                             Bytes.size());
    std::string Why;
    if (!WriteNewFile(Part, Data, WriteChunk, Why))
        return GiveUp(Part, "cannot write " + PathToUtf8(Part) + ": " + Why);
    if (!MoveFileNoReplace(Part, Final, Why))
        return GiveUp(Part, Why);
    return true;
}

std::vector<TSpoolEntry> TSpool::Entries(const std::string& Host, int Port) const
{
    const fs::path Folder = ScaleFolder(Host, Port);
    std::error_code Error;
    if (Folder.empty() || !fs::is_directory(Folder, Error))
        return {};
    return ListEntries(Folder);
}

std::size_t TSpool::Count(const std::string& Host, int Port) const
{
    return Entries(Host, Port).size();
}

bool TSpool::Read(const TSpoolEntry& Entry, std::string& Bytes, std::string& Error) const
{
    errno = 0;
    std::ifstream In(Entry.Path, std::ios::binary);
    if (In) {
        Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
        if (!In.bad())
            return true;
    }
    const int Code = errno != 0 ? errno : EIO;
    Error = "cannot read " + PathToUtf8(Entry.Path) + ": " +
            std::error_code(Code, std::generic_category()).message();
    return false;
}

bool TSpool::Remove(const TSpoolEntry& Entry)
{
    std::error_code Error;
    fs::remove(Entry.Path, Error);
    if (Error)
        return false;
    fs::remove(FullNameFile(Entry.Path.parent_path(), Entry.Seq), Error);
    return true;
}

std::vector<TSpoolEntry> TSpool::DropScale(const std::string& Host, int Port)
{
    std::vector<TSpoolEntry> Dropped;
    const fs::path Folder = ScaleFolder(Host, Port);
    std::error_code Error;
    if (Folder.empty() || !fs::is_directory(Folder, Error))
        return Dropped;
    for (TSpoolEntry& Entry : ListEntries(Folder)) {
        if (Remove(Entry))
            Dropped.push_back(std::move(Entry));
    }
    fs::remove_all(Folder, Error);
    return Dropped;
}

std::vector<TSpoolEntry> TSpool::Trim(std::int64_t NowUnixSeconds)
{
    std::vector<TSpoolEntry> Dropped;
    for (const fs::path& Folder : ScaleFolders(FFolder)) {
        RemoveLeftoverParts(Folder);
        std::vector<TSpoolEntry> Entries = ListEntries(Folder);
        std::string Host;
        int Port = 0;
        if (ReadOwner(Folder, Host, Port))
            for (TSpoolEntry& Entry : Entries) {
                Entry.Host = Host;
                Entry.Port = Port;
            }
        std::int64_t Total = 0;
        for (const TSpoolEntry& Entry : Entries)
            Total += Entry.Bytes;
        // Oldest first: an old copy goes for its age or, while the scale's copies are too big
        // together, for its place in the queue.
        for (TSpoolEntry& Entry : Entries) {
            const bool TooOld = NowUnixSeconds - Entry.AddedUnixSeconds > FLimits.MaxAgeSeconds;
            if (!TooOld && Total <= FLimits.MaxBytesPerScale)
                continue;
            // Counted as gone even when it cannot be removed, so newer copies are not dropped
            // in its stead.
            Total -= Entry.Bytes;
            if (Remove(Entry))
                Dropped.push_back(std::move(Entry));
        }
    }
    return Dropped;
}

std::vector<std::pair<std::string, int>> TSpool::Scales() const
{
    std::vector<std::pair<std::string, int>> Result;
    for (const fs::path& Folder : ScaleFolders(FFolder)) {
        std::string Host;
        int Port = 0;
        if (ReadOwner(Folder, Host, Port) && !ListEntries(Folder).empty())
            Result.emplace_back(Host, Port);
    }
    std::sort(Result.begin(), Result.end());
    return Result;
}

} // namespace Plumeria
