#pragma once
// The placeholder driver of the makes whose protocol is not connected yet: it sends nothing,
// says so in its result, and journals what it would have sent.

#include "core/Driver/Driver.h"

namespace Plumeria {

class TPendingScaleDriver final : public IScaleDriver
{
public:
    explicit TPendingScaleDriver(TScaleKind Kind) : FKind(Kind) {}

    TScaleKind Kind() const override { return FKind; }
    /// No network access: clears `Model` and answers false.
    bool Identify(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                  std::string& Model) override;
    /// No network access: usNotSent with "<make> protocol is not connected yet", and one INFO
    /// line per article with the host and port exactly as passed.
    TUploadResult Upload(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                         const std::string& LocalIp, const std::string& Model,
                         const std::string& SourceFile,
                         const std::vector<TPluRecord>& Items) override;

private:
    const TScaleKind FKind;
};

} // namespace Plumeria
