#pragma once
// One interface for every scale make, so file processing can send a file's articles to any
// configured scale without knowing its protocol, and the factory that picks the implementation.
//
// Ownership: a driver is always held by std::shared_ptr<IScaleDriver> (TScaleDriverRef); the
// object lives as long as a reference to it exists and dies with the last one. Drivers keep no
// state between calls, so a caller may create a new one for every upload.

#include "core/Types/Types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Plumeria {

/// What a caller that sends in the background adds to an upload: a stop request honoured between
/// two articles (so a scale never gets half an article), and the count of articles the scale has
/// acknowledged so far. Both are used from the uploading thread.
struct TUploadControl
{
    /// Set by another thread: the upload ends before its next article with usFailed and
    /// `UploadCancelledMessage`.
    const std::atomic<bool>* Cancel = nullptr;
    /// Called after each acknowledged article with the number acknowledged so far.
    std::function<void(std::size_t Acknowledged)> Progress;

    bool Cancelled() const { return Cancel && Cancel->load(); }
};

inline constexpr const char* UploadCancelledMessage = "upload cancelled";

class IScaleDriver
{
public:
    virtual ~IScaleDriver() = default;

    /// The make this driver serves.
    virtual TScaleKind Kind() const = 0;
    /// Whether a scale answers at Host:Port within `TimeoutMs` ms; a `Port` of 0 or less means
    /// the make's default port. `Model` always comes back empty.
    virtual bool Identify(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                          std::string& Model) = 0;
    /// Sends `Items` to the scale at Host:Port (0 or less: the default port). `TimeoutMs` bounds
    /// each network wait; `LocalIp` is the address to send from (empty: the driver chooses);
    /// `SourceFile` (the PLU file's full path) is used only in journal lines and messages.
    /// Never throws: every outcome is in the result.
    virtual TUploadResult Upload(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                                 const std::string& LocalIp, const std::string& Model,
                                 const std::string& SourceFile,
                                 const std::vector<TPluRecord>& Items) = 0;
    /// The same, stopping early when asked and telling how far it got. A make that cannot do
    /// either ignores `Control`; a stop request is then only seen before the upload starts.
    virtual TUploadResult UploadControlled(const std::string& Host, std::int32_t Port,
                                           std::int32_t TimeoutMs, const std::string& LocalIp,
                                           const std::string& Model, const std::string& SourceFile,
                                           const std::vector<TPluRecord>& Items,
                                           const TUploadControl& Control)
    {
        if (Control.Cancelled())
            return {TUploadStatus::usFailed, UploadCancelledMessage};
        return Upload(Host, Port, TimeoutMs, LocalIp, Model, SourceFile, Items);
    }

protected:
    IScaleDriver() = default;
    IScaleDriver(const IScaleDriver&) = default;
    IScaleDriver& operator=(const IScaleDriver&) = default;
};

using TScaleDriverRef = std::shared_ptr<IScaleDriver>;

/// A TDigiDriver for skDigi; a TPendingScaleDriver of that kind for every other make.
TScaleDriverRef CreateScaleDriver(TScaleKind Kind);

} // namespace Plumeria
