#include "core/Digi/Digi.h"

#include "core/DigiFrame/DigiFrame.h"
#include "core/DigiSearch/SubnetScan.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"

#include <exception>

namespace Plumeria {

int ClampDigiTimeout(int TimeoutMs)
{
    return (TimeoutMs < 100 || TimeoutMs > 3000) ? 500 : TimeoutMs;
}

bool TDigiDriver::Identify(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                           std::string& Model)
{
    Model.clear();
    if (Port <= 0)
        Port = DigiDefaultPort(Host);
    return TcpProbe(Host, Port, TimeoutMs, "");
}

namespace {

TUploadResult UploadFrames(const std::string& Host, std::int32_t Port, std::int32_t TimeoutMs,
                           const std::string& LocalIp, const std::string& SourceFile,
                           const std::vector<TPluRecord>& Items, const TUploadControl& Control)
{
    TUploadResult Result;
    Result.Status = TUploadStatus::usFailed;
    if (Port <= 0)
        Port = DigiDefaultPort(Host);
    if (Port < 1 || Port > 65535) {
        Result.Message = "DIGI port is 2000 + the last octet of the host";
        LogError("file=" + SourceFile + " ip=" + Host + " " + Result.Message);
        return Result;
    }
    const int Timeout = ClampDigiTimeout(TimeoutMs);
    const std::string BindIp = ChooseBindAddress(Host, LocalIp);
    if (Items.empty()) {
        Result.Message = "no PLU to send";
        LogError("file=" + SourceFile + " " + Result.Message);
        return Result;
    }

    std::vector<std::vector<std::uint8_t>> Frames(Items.size());
    for (std::size_t I = 0; I < Items.size(); ++I) {
        std::string Refusal;
        if (!EncodeDigiPlu(Items[I], Frames[I], Refusal)) {
            Result.Message = "PLU " + std::to_string(Items[I].Plu) + ": " + Refusal;
            LogError("file=" + SourceFile + " ip=" + Host + " " + Result.Message);
            return Result;
        }
    }

    const std::string Where =
        "file=" + SourceFile + " ip=" + Host + " port=" + std::to_string(Port) + " ";
    TSocketHandle Socket = NoSocket;
    if (!TcpConnect(Host, BindIp, Port, Timeout, Socket)) {
        Result.Message = "scale did not accept the connection";
        // A configured adapter that is gone fails every scale; say so instead of leaving the
        // user to decode a bind error.
        if (IsConnectableIpv4(BindIp) && !IsLocalAddress(BindIp))
            Result.Message += ": " + MissingAdapterText(BindIp);
        LogError(Where + Result.Message);
        return Result;
    }
    TTcpConnection Connection(Socket);
    const bool Verbose = IsLogVerbose();
    std::vector<std::uint8_t> Answer;
    // At level max the acknowledgement of a frame and its "sent" line are journaled after the
    // next frame has left, and every frame's own line after it has left: the journal is then
    // written while the scale reads and answers, not between the frames. The lines keep the
    // order of the exchange; a failure journals what is pending before its own line.
    const auto JournalAcknowledged = [&](std::size_t Index) {
        LogExchange(Host, Port, "rx", Answer);
        if (Verbose)
            LogInfo(Where + "plu=" + std::to_string(Items[Index].Plu) +
                    " status=sent bytes=" + std::to_string(Frames[Index].size()));
    };
    for (std::size_t I = 0; I < Items.size(); ++I) {
        if (Control.Cancelled()) {
            if (I > 0)
                JournalAcknowledged(I - 1);
            Result.Message = UploadCancelledMessage;
            LogWarn(Where + Result.Message + " after " + std::to_string(I) + " of " +
                    std::to_string(Items.size()) + " PLU");
            return Result;
        }
        const std::vector<std::uint8_t>& Frame = Frames[I];
        const bool Written = TcpSendAll(Connection.Get(), Frame, Timeout);
        if (I > 0)
            JournalAcknowledged(I - 1); // Answer still holds that frame's acknowledgement
        LogExchange(Host, Port, "tx", Frame);
        const std::string Plu = std::to_string(Items[I].Plu);
        if (!Written) {
            Result.Message = "PLU " + Plu + " was not written";
            LogError(Where + Result.Message);
            return Result;
        }
        if (!TcpReceive(Connection.Get(), 1, Timeout, Answer)) {
            Result.Message = "PLU " + Plu + " was not acknowledged";
            LogError(Where + Result.Message);
            return Result;
        }
        if (Answer.size() != 1 || Answer[0] != DigiAck) {
            LogExchange(Host, Port, "rx", Answer);
            Result.Message = "PLU " + Plu + " was not acknowledged";
            LogError(Where + Result.Message);
            return Result;
        }
        if (Control.Progress)
            Control.Progress(I + 1);
    }
    if (!Items.empty())
        JournalAcknowledged(Items.size() - 1);
    Connection.Close();
    Result.Status = TUploadStatus::usSent;
    Result.Message = "sent " + std::to_string(Items.size()) + " PLU";
    return Result;
}

} // namespace

TUploadResult TDigiDriver::Upload(const std::string& Host, std::int32_t Port,
                                  std::int32_t TimeoutMs, const std::string& LocalIp,
                                  const std::string& Model, const std::string& SourceFile,
                                  const std::vector<TPluRecord>& Items)
{
    return UploadControlled(Host, Port, TimeoutMs, LocalIp, Model, SourceFile, Items,
                            TUploadControl{});
}

TUploadResult TDigiDriver::UploadControlled(const std::string& Host, std::int32_t Port,
                                            std::int32_t TimeoutMs, const std::string& LocalIp,
                                            const std::string&, const std::string& SourceFile,
                                            const std::vector<TPluRecord>& Items,
                                            const TUploadControl& Control)
{
    // The contract is "never throws"; only running out of memory could get here, and the
    // connection is closed by then.
    try {
        return UploadFrames(Host, Port, TimeoutMs, LocalIp, SourceFile, Items, Control);
    } catch (const std::exception& Error) {
        TUploadResult Failed{TUploadStatus::usFailed,
                             std::string("upload failed: ") + Error.what()};
        try {
            const int UsedPort = Port > 0 ? Port : DigiDefaultPort(Host);
            LogError("file=" + SourceFile + " ip=" + Host + " port=" + std::to_string(UsedPort) +
                     " " + Failed.Message);
        } catch (...) {
            // Out of memory again: the result still tells the caller.
        }
        return Failed;
    }
}

} // namespace Plumeria
