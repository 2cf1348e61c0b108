#include "core/Journal/Journal.h"

#include "core/Text/Text.h"
#include "platform/AppendFile.h"
#include "platform/Environment.h"
#include "platform/Process.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

namespace Plumeria {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t ExchangeDumpLimit = 4096;
// Tail reads go backwards in blocks of this size; a day's journal may be hundreds of megabytes.
constexpr std::size_t TailBlockSize = 64 * 1024;
// A line buffer larger than this is given back after its entry (the largest exchange line is
// about 12 KB).
constexpr std::size_t LineBufferKept = 64 * 1024;

std::atomic<std::uint8_t> Level{static_cast<std::uint8_t>(TLogLevel::llMaximum)};
std::atomic<bool> ShutDown{false};

/// Serializes every append and every tail read, so lines from different threads never mix.
std::mutex& JournalLock()
{
    static std::mutex Lock;
    return Lock;
}

std::mutex FolderLock;
std::optional<fs::path> Folder;
std::string FallbackReason; ///< why Folder is not the machine-wide one; under FolderLock

std::mutex ClockLock;
std::function<TLocalDateTime()> Clock;

TLocalDateTime Now()
{
    std::lock_guard Guard(ClockLock);
    return Clock ? Clock() : LocalNow();
}

std::string FormatDate(const TLocalDateTime& T)
{
    char Buffer[32];
    std::snprintf(Buffer, sizeof Buffer, "%04d-%02d-%02d", T.Year, T.Month, T.Day);
    return Buffer;
}

/// A probe file name no other process and no other probe of ours uses: with one shared name,
/// programs starting together remove each other's probe and take a good folder for a bad one.
std::string UniqueProbeName()
{
    static std::atomic<unsigned> Counter{0};
    return "write.probe." + std::to_string(CurrentProcessId()) + "." +
           std::to_string(Counter.fetch_add(1));
}

std::string SystemReason(int Code)
{
    return std::error_code(Code != 0 ? Code : EIO, std::generic_category()).message();
}

/// True when `Dir` can be created and a file written into it and removed again; otherwise false
/// with the reason.
bool IsUsableFolder(const fs::path& Dir, std::string& Why)
{
    try {
        std::error_code Error;
        fs::create_directories(Dir, Error);
        if (Error) {
            Why = "cannot create the folder: " + Error.message();
            return false;
        }
        if (!fs::is_directory(Dir, Error)) {
            Why = "not a folder";
            return false;
        }
        const fs::path Probe = Dir / UniqueProbeName();
        {
            errno = 0;
            std::ofstream Out(Probe, std::ios::binary | std::ios::trunc);
            Out << "ok";
            Out.close();
            if (!Out) {
                Why = "cannot write into it: " + SystemReason(errno);
                fs::remove(Probe, Error);
                return false;
            }
        }
        if (!fs::remove(Probe, Error) || Error) {
            Why = "cannot remove a file written into it: " + Error.message();
            return false;
        }
        return true;
    } catch (const std::exception& Failure) {
        Why = Failure.what();
        return false;
    }
}

fs::path DetermineDataFolder(std::string& Fallback)
{
    const fs::path Base = MachineDataBase();
    if (Base.empty()) {
        Fallback = "ProgramData is not set";
    } else {
        const fs::path Candidate = Base / "PlumeriaBridge";
        std::string Why;
        if (IsUsableFolder(Candidate, Why))
            return Candidate;
        Fallback = PathToUtf8(Candidate) + ": " + Why;
    }
    const fs::path Exe = ExecutablePath();
    if (!Exe.empty() && Exe.has_parent_path())
        return Exe.parent_path();
    std::error_code Error;
    return fs::current_path(Error);
}

fs::path LogsFolder()
{
    return DataFolder() / "logs";
}

fs::path LogFileFor(const TLocalDateTime& T)
{
    return LogsFolder() / (FormatDate(T) + ".log");
}

bool Enabled(std::string_view Kind)
{
    return Kind == "ERROR" || IsLogVerbose();
}

/// The last entry's day file and the buffer its lines are built in, both under the journal lock:
/// at level max an upload writes three entries per article, and each would otherwise build the
/// path and a line afresh.
struct TAppendCache
{
    int Year = 0, Month = 0, Day = 0;
    fs::path File;
    std::string Line;
};
TAppendCache AppendCache;

/// Today's file for an entry stamped `T`; call under the journal lock.
const fs::path& CachedLogFile(const TLocalDateTime& T)
{
    TAppendCache& C = AppendCache;
    if (C.File.empty() || C.Year != T.Year || C.Month != T.Month || C.Day != T.Day) {
        C.File = LogFileFor(T);
        C.Year = T.Year;
        C.Month = T.Month;
        C.Day = T.Day;
    }
    return C.File;
}

/// Call under the journal lock, with the data folder forgotten.
void ForgetAppendCache()
{
    AppendCache = TAppendCache();
}

void Append(std::string_view Kind, std::string_view Text)
{
    if (ShutDown.load() || !Enabled(Kind))
        return;
    try {
        std::lock_guard Guard(JournalLock());
        if (ShutDown.load())
            return;
        // One time for both the stamp and the file name: an entry stamped 23:59:59 belongs to
        // that day's file even when midnight passes while it is written.
        const TLocalDateTime Stamp = Now();
        const fs::path& File = CachedLogFile(Stamp);

        std::string& Line = AppendCache.Line;
        Line.resize(32);
        const int StampLength =
            std::snprintf(Line.data(), Line.size(), "%04d-%02d-%02d %02d:%02d:%02d", Stamp.Year,
                          Stamp.Month, Stamp.Day, Stamp.Hour, Stamp.Minute, Stamp.Second);
        Line.resize(StampLength > 0 ? static_cast<std::size_t>(StampLength) : 0);
        Line += " | ";
        Line += Kind;
        Line += " | ";
        Line += Text;
        Line += "\r\n";

        // Opened and closed for every entry: no handle stays open, so the file can be opened,
        // copied or deleted between entries. The folder is made only when it is missing, which
        // spares every other entry a look at it.
        if (AppendToFile(File, Line) == TAppendResult::arFolderMissing) {
            std::error_code Error;
            fs::create_directories(File.parent_path(), Error);
            if (!Error)
                AppendToFile(File, Line);
        }
        if (Line.capacity() > LineBufferKept)
            std::string().swap(Line); // one huge entry should not hold its memory for good
    } catch (...) {
        // A journal that cannot be written must never disturb the caller; the entry is lost.
    }
}

/// Today's file read from the end: the bytes from the start of the `Count`-th last line to the
/// end of the file. Reads only as many blocks as those lines need.
std::string ReadTailBytes(const fs::path& File, int Count)
{
    std::ifstream In(File, std::ios::binary);
    if (!In) {
        const int Reason = errno;
        std::error_code Error;
        if (!fs::exists(File, Error) && !Error)
            return {};
        throw fs::filesystem_error("cannot open the journal file", File,
                                   std::error_code(Reason ? Reason : EIO, std::generic_category()));
    }
    In.seekg(0, std::ios::end);
    const std::streamoff End = In.tellg();
    if (End < 0)
        throw fs::filesystem_error("cannot read the journal file", File,
                                   std::make_error_code(std::errc::io_error));
    const auto Size = static_cast<std::uint64_t>(End);
    if (Size == 0)
        return {};

    // Blocks are collected last first; the line feed that ends the final line is not a
    // separator, so it is left out of the count.
    std::vector<std::string> Blocks;
    std::uint64_t Pos = Size;
    std::uint64_t Start = 0;
    int Breaks = 0;
    bool Found = false;
    while (Pos > 0 && !Found) {
        const std::uint64_t Length = Pos > TailBlockSize ? TailBlockSize : Pos;
        Pos -= Length;
        std::string Block(static_cast<std::size_t>(Length), '\0');
        In.seekg(static_cast<std::streamoff>(Pos));
        In.read(Block.data(), static_cast<std::streamsize>(Length));
        if (In.gcount() != static_cast<std::streamsize>(Length))
            throw fs::filesystem_error("cannot read the journal file", File,
                                       std::make_error_code(std::errc::io_error));
        for (std::size_t I = Block.size(); I-- > 0;) {
            if (Block[I] != '\n' || Pos + I == Size - 1)
                continue;
            if (++Breaks == Count) {
                Start = Pos + I + 1;
                Found = true;
                break;
            }
        }
        Blocks.push_back(std::move(Block));
    }

    std::string Tail;
    Tail.reserve(static_cast<std::size_t>(Size - Start));
    std::uint64_t BlockStart = Pos;
    for (auto It = Blocks.rbegin(); It != Blocks.rend(); ++It) {
        const std::uint64_t Skip = Start > BlockStart ? Start - BlockStart : 0;
        if (Skip < It->size())
            Tail.append(*It, static_cast<std::size_t>(Skip));
        BlockStart += It->size();
    }
    return Tail;
}

} // namespace

void LogInfo(std::string_view Text)
{
    Append("INFO", Text);
}

void LogWarn(std::string_view Text)
{
    Append("WARN", Text);
}

void LogError(std::string_view Text)
{
    Append("ERROR", Text);
}

void LogExchange(std::string_view Ip, int Port, std::string_view Dir,
                 std::span<const std::uint8_t> Data)
{
    if (!IsLogVerbose() || ShutDown.load())
        return;
    try {
        std::string Text = "ip=";
        Text += Ip;
        Text += " port=" + std::to_string(Port);
        Text += " dir=";
        Text += Dir;
        Text += " bytes=" + std::to_string(Data.size());
        Text += " hex=";
        Text += HexDump(Data, ExchangeDumpLimit);
        Append("EXCH", Text);
    } catch (...) {
        // Same rule as every other entry: failures stay inside the journal.
    }
}

void SetLogLevel(TLogLevel NewLevel)
{
    Level.store(static_cast<std::uint8_t>(NewLevel));
}

TLogLevel GetLogLevel()
{
    return static_cast<TLogLevel>(Level.load());
}

bool IsLogVerbose()
{
    return GetLogLevel() == TLogLevel::llMaximum;
}

std::string LogLevelName(TLogLevel Value)
{
    return Value == TLogLevel::llErrors ? "errors" : "max";
}

bool TryParseLogLevel(std::string_view Text, TLogLevel& Value)
{
    const std::string Folded = AsciiLower(TrimView(Text));
    if (Folded == "errors" || Folded == "error") {
        Value = TLogLevel::llErrors;
        return true;
    }
    if (Folded == "max" || Folded == "maximum" || Folded.empty()) {
        Value = TLogLevel::llMaximum;
        return true;
    }
    return false;
}

fs::path DataFolder()
{
    std::lock_guard Guard(FolderLock);
    if (!Folder) {
        FallbackReason.clear();
        Folder = DetermineDataFolder(FallbackReason);
    }
    return *Folder;
}

std::string DataFolderFallback()
{
    DataFolder();
    std::lock_guard Guard(FolderLock);
    return FallbackReason;
}

fs::path LogFilePath()
{
    const fs::path File = LogFileFor(Now());
    std::error_code Error;
    fs::create_directories(File.parent_path(), Error);
    return File;
}

std::string LogTail(int Count)
{
    if (Count < 1)
        Count = 1;
    std::string Bytes;
    {
        std::lock_guard Guard(JournalLock());
        Bytes = ReadTailBytes(LogFileFor(Now()), Count);
    }

    // Physical lines end with LF; the CR before it (or a CR left at the very end by an
    // interrupted write) belongs to the break, not to the text.
    std::string Result;
    Result.reserve(Bytes.size() + 2);
    std::size_t Begin = 0;
    bool First = true;
    while (Begin < Bytes.size()) {
        std::size_t End = Bytes.find('\n', Begin);
        const std::size_t Next = End == std::string::npos ? Bytes.size() : End + 1;
        if (End == std::string::npos)
            End = Bytes.size();
        std::size_t LineEnd = End;
        if (LineEnd > Begin && Bytes[LineEnd - 1] == '\r')
            --LineEnd;
        if (!First)
            Result += "\r\n";
        Result.append(Bytes, Begin, LineEnd - Begin);
        First = false;
        Begin = Next;
    }
    // Other programs may have written to the file; hand the caller valid UTF-8 either way.
    if (!IsValidUtf8(Result))
        Result = Utf16ToUtf8(Utf8ToUtf16(Result));
    return Result;
}

std::string HexDump(std::span<const std::uint8_t> Data, std::size_t Limit)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    const std::size_t Shown = Data.size() < Limit ? Data.size() : Limit;
    std::string Out;
    Out.reserve(Shown * 3 + 4);
    for (std::size_t I = 0; I < Shown; ++I) {
        if (I > 0)
            Out.push_back(' ');
        Out.push_back(Digits[Data[I] >> 4]);
        Out.push_back(Digits[Data[I] & 0x0F]);
    }
    if (Data.size() > Limit)
        Out += " ...";
    return Out;
}

void ShutdownJournal()
{
    std::lock_guard Guard(JournalLock());
    ShutDown.store(true);
    ForgetAppendCache();
    std::lock_guard FolderGuard(FolderLock);
    Folder.reset();
}

void ResetJournal()
{
    std::lock_guard Guard(JournalLock());
    ForgetAppendCache();
    std::lock_guard FolderGuard(FolderLock);
    Folder.reset();
    ShutDown.store(false);
    Level.store(static_cast<std::uint8_t>(TLogLevel::llMaximum));
}

void SetJournalClock(std::function<TLocalDateTime()> NewClock)
{
    std::lock_guard Guard(ClockLock);
    Clock = std::move(NewClock);
}

} // namespace Plumeria
