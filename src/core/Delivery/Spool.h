#pragma once
// Copies of the files a scale missed (it was off, did not answer, refused a frame), kept in the
// data folder until that scale has them: spool/<host>_<port>/<seq>-<file name>, where seq is a
// zero-padded arrival number, so the oldest is re-sent first and a newer file never overtakes an
// older one. Bounded by age and by size per scale; what a bound drops is handed back so the caller
// journals it as an ERROR and shows it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria {

struct TSpoolLimits
{
    std::int64_t MaxAgeSeconds = 7 * 24 * 3600;
    std::int64_t MaxBytesPerScale = 256LL * 1024 * 1024;
};

struct TSpoolEntry
{
    std::filesystem::path Path; ///< the copy in the spool
    std::string FileName;       ///< the original file name (UTF-8), without the sequence number
    std::uint64_t Seq = 0;
    std::int64_t Bytes = 0;
    std::int64_t AddedUnixSeconds = 0; ///< when the copy was made (the copy's modification time)
    std::string Host; ///< the scale it waits for (empty where its folder names no owner)
    int Port = 0;
};

class TSpool
{
public:
    /// `Folder`: normally DataFolder() / "spool". Nothing is created until the first Add.
    explicit TSpool(std::filesystem::path Folder, TSpoolLimits Limits = {});

    /// Keeps a copy of `Bytes` (the file's content as it was read and sent to the other scales)
    /// for the scale, after every entry it already has. Written under a temporary name, flushed
    /// and renamed, so a crash never leaves a half copy that looks whole. False with `Error`
    /// when it cannot be written (nothing is left behind).
    bool Add(const std::string& Host, int Port, const std::string& FileName,
             const std::string& Bytes, std::string& Error);
    /// The scale's entries, oldest first (empty when it has none).
    std::vector<TSpoolEntry> Entries(const std::string& Host, int Port) const;
    std::size_t Count(const std::string& Host, int Port) const;
    /// Reads an entry's bytes; false with `Error` when it cannot.
    bool Read(const TSpoolEntry& Entry, std::string& Bytes, std::string& Error) const;
    /// Removes one entry (the scale got it).
    bool Remove(const TSpoolEntry& Entry);
    /// Removes every entry of a scale (it was removed from the settings); returns what was
    /// dropped.
    std::vector<TSpoolEntry> DropScale(const std::string& Host, int Port);
    /// Drops, oldest first, entries older than the age bound and entries beyond the size bound
    /// of their scale; returns what was dropped. `NowUnixSeconds` is the current time.
    std::vector<TSpoolEntry> Trim(std::int64_t NowUnixSeconds);
    /// Host and port of every scale that has a spool folder with entries.
    std::vector<std::pair<std::string, int>> Scales() const;

private:
    std::filesystem::path ScaleFolder(const std::string& Host, int Port) const;
    std::filesystem::path FFolder;
    TSpoolLimits FLimits;
};

} // namespace Plumeria
