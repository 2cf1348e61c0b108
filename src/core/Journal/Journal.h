#pragma once
// The journal: one plain-text file per local day in the `logs` folder of the data folder,
// written from any thread under one process-wide lock, opened and closed for every entry.
// Also decides where the data folder is (the settings file lives there too) and holds the
// process-wide journal level.

#include "platform/Clock.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace Plumeria {

enum class TLogLevel : std::uint8_t
{
    llErrors = 0,  ///< only "ERROR" entries are written
    llMaximum = 1, ///< everything is written
};

void LogInfo(std::string_view Text);
void LogWarn(std::string_view Text);
void LogError(std::string_view Text);
/// "ip=%s port=%d dir=%s bytes=%d hex=%s", at the maximum level only.
void LogExchange(std::string_view Ip, int Port, std::string_view Dir,
                 std::span<const std::uint8_t> Data);

void SetLogLevel(TLogLevel Level);
TLogLevel GetLogLevel();
bool IsLogVerbose();
/// "errors" or "max".
std::string LogLevelName(TLogLevel Level);
/// Trims, folds ASCII; "errors"/"error" and "max"/"maximum"/"" are levels. False leaves `Level`.
bool TryParseLogLevel(std::string_view Text, TLogLevel& Level);

/// The data folder, determined once on first use: "PlumeriaBridge" under the platform's
/// machine-wide data base, or the executable's folder when that cannot be written.
std::filesystem::path DataFolder();
/// Why the data folder is the executable's folder: empty when it is the machine-wide one;
/// otherwise the folder that could not be used and the reason ("C:\ProgramData\PlumeriaBridge:
/// cannot write into it: No space left on device"), or that there is no machine-wide base.
std::string DataFolderFallback();
/// Today's journal file; creates the `logs` folder.
std::filesystem::path LogFilePath();
/// The last `Count` lines (at least 1) of today's file joined with CR LF; empty when none.
/// Reads backwards from the end. Read failures reach the caller as exceptions.
std::string LogTail(int Count);
/// Two upper-case hex digits per byte, single spaces, at most `Limit` bytes, then " ..." when cut.
std::string HexDump(std::span<const std::uint8_t> Data, std::size_t Limit);

/// Process end: entries requested afterwards are dropped silently.
void ShutdownJournal();
/// Forgets the data folder and the shutdown, and sets the level back to maximum, so a test can
/// start afresh with another `ProgramData`.
void ResetJournal();
/// Replaces the clock that stamps entries and names the daily file (tests); empty = real clock.
void SetJournalClock(std::function<TLocalDateTime()> Clock);

} // namespace Plumeria
