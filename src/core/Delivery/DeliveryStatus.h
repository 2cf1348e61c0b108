#pragma once
// What each scale last got, kept in the data folder across restarts: per scale (known by host and
// port, so renaming a scale keeps its record) the last file given to it, when, how many articles,
// the result and the last error. The files a scale still misses are in its spool (Spool.h); the
// status only shows how many. Saved atomically; of a damaged status file every record that makes
// sense is kept, the damage journaled, never touching settings.ini.

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>

namespace Plumeria {

enum class TDeliveryResult
{
    drNone,   ///< nothing given to this scale yet
    drSent,   ///< "sent"
    drFailed, ///< "failed"
    drNotSent ///< "not sent" (a make without a protocol)
};

/// "sent", "failed", "not sent", or "" for drNone.
const char* DeliveryResultWord(TDeliveryResult Result);

struct TScaleDelivery
{
    std::string Host;
    int Port = 0;         ///< the port in use (a DIGI scale's default worked out)
    std::string Name;     ///< the scale's display name when last recorded
    std::string LastFile; ///< file name without folder; empty: none yet
    std::string LastTime; ///< local time "yyyy-mm-dd hh:nn:ss"; empty: none yet
    std::size_t Articles = 0;
    TDeliveryResult LastResult = TDeliveryResult::drNone;
    std::string LastError; ///< the driver's message of the last failure; empty after a success
};

/// "host:port", the key of a scale's record.
std::string DeliveryKey(const std::string& Host, int Port);

class TDeliveryStatus
{
public:
    /// `File`: the status file, normally DataFolder() / "delivery.ini".
    explicit TDeliveryStatus(std::filesystem::path File);

    /// Reads the file and changes nothing on the disk. A missing file is an empty status
    /// (true). Every record that makes sense is read; when the file cannot be read, or a record
    /// or line of it makes no sense, the result is false with `Error` naming what was wrong.
    bool Read(std::string& Error);
    /// `Read`, and when anything was wrong: journaled as an ERROR ("delivery status damaged:
    /// PATH: REASONS; N records kept") and a copy of the file kept aside as File + ".bad".
    bool Load(std::string& Error);
    /// Writes the whole status atomically (AtomicFile). False with `Error` on failure; the file
    /// on the disk is then unchanged.
    bool Save(std::string& Error) const;

    /// Records one outcome for a scale (creates its record when new).
    void Record(const std::string& Host, int Port, const std::string& Name,
                const std::string& FileName, const std::string& Time, std::size_t Articles,
                TDeliveryResult Result, const std::string& Error);
    /// Adds `Text` to a known scale's last error (after "; "), keeping the rest of its record.
    void NoteError(const std::string& Host, int Port, const std::string& Text);
    const TScaleDelivery* Find(const std::string& Host, int Port) const;
    void Forget(const std::string& Host, int Port);
    const std::map<std::string, TScaleDelivery>& Scales() const { return FScales; }
    const std::filesystem::path& File() const { return FFile; }

private:
    std::filesystem::path FFile;
    std::map<std::string, TScaleDelivery> FScales;
};

} // namespace Plumeria
