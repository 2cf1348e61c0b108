#include "core/Pending/Pending.h"

#include "core/Journal/Journal.h"

namespace Plumeria {

bool TPendingScaleDriver::Identify(const std::string&, std::int32_t, std::int32_t,
                                   std::string& Model)
{
    Model.clear();
    return false;
}

TUploadResult TPendingScaleDriver::Upload(const std::string& Host, std::int32_t Port, std::int32_t,
                                          const std::string&, const std::string& Model,
                                          const std::string& SourceFile,
                                          const std::vector<TPluRecord>& Items)
{
    TUploadResult Result;
    Result.Status = TUploadStatus::usNotSent;
    Result.Message = std::string(ScaleKindName(FKind)) + " protocol is not connected yet";
    if (IsLogVerbose()) {
        const std::string Prefix =
            "file=" + SourceFile + " ip=" + Host + " port=" + std::to_string(Port) +
            " kind=" + std::string(ScaleKindId(FKind)) + " model=" + Model + " plu=";
        for (const TPluRecord& Item : Items)
            LogInfo(Prefix + std::to_string(Item.Plu) + " status=not sent payload=");
    }
    return Result;
}

} // namespace Plumeria
