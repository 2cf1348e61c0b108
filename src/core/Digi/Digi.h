#pragma once
// The DIGI driver: all articles of one PLU file to one DIGI scale over one TCP connection,
// frame by frame, each acknowledged by the byte 0x06 before the next is sent. Every article is
// encoded before anything touches the network, so one bad article stops the file for this scale
// without a byte being sent.

#include "core/Driver/Driver.h"

namespace Plumeria {

/// The uploads, the DIGI search and the on-line probe replace a time-out below 100 or above
/// 3000 ms by 500 (not by the nearer bound).
int ClampDigiTimeout(int TimeoutMs);

class TDigiDriver final : public IScaleDriver
{
public:
    TScaleKind Kind() const override { return TScaleKind::skDigi; }
    /// A connect probe to Host:Port (the default port when Port <= 0) with the time-out as given
    /// and no bind address; `Model` comes back empty.
    bool Identify(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                  std::string& Model) override;
    /// usSent with "sent N PLU" once every frame was acknowledged, usFailed with the reason
    /// otherwise; never usNotSent. Journals each failure with LogError, each frame's bytes with
    /// LogExchange and each acknowledged article with LogInfo.
    TUploadResult Upload(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                         const std::string& LocalIp, const std::string& Model,
                         const std::string& SourceFile,
                         const std::vector<TPluRecord>& Items) override;
    /// The same; a stop request ends the upload between two frames (after the current frame's
    /// answer or its time-out), and each acknowledged frame is counted.
    TUploadResult UploadControlled(const std::string& Host, std::int32_t Port,
                                   std::int32_t TimeoutMs, const std::string& LocalIp,
                                   const std::string& Model, const std::string& SourceFile,
                                   const std::vector<TPluRecord>& Items,
                                   const TUploadControl& Control) override;
};

} // namespace Plumeria
