#include "core/Digi/LabelUpload.h"

#include "core/Digi/Digi.h"
#include "core/DigiFrame/DigiFrame.h"
#include "core/DigiFrame/LabelRecords.h"
#include "core/DigiSearch/SubnetScan.h"
#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"

#include <system_error>

namespace Plumeria {

namespace {

struct TLabelFile
{
    const char* Name;
    std::uint8_t FileByte;
};

constexpr TLabelFile LabelFiles[] = {
    {"f34.dat", DigiLabelFormatFileByte},
    {"f38.dat", DigiLabelTextFileByte},
};

} // namespace

std::vector<std::string> MissingLabelFiles(const std::filesystem::path& Folder)
{
    std::vector<std::string> Missing;
    for (const TLabelFile& File : LabelFiles) {
        std::error_code Unknown;
        // An entry that cannot even be looked at is not called missing: the upload reports it.
        if (!std::filesystem::exists(Folder / File.Name, Unknown) && !Unknown)
            Missing.emplace_back(File.Name);
    }
    return Missing;
}

bool SendLabelRecord(TSocketHandle Socket, const std::string& Host, int Port,
                     std::span<const std::uint8_t> Frame, int TimeoutMs, std::string& Message)
{
    LogExchange(Host, Port, "tx", Frame);
    if (!TcpSendAll(Socket, Frame, TimeoutMs)) {
        Message = "label record was not written";
        return false;
    }
    std::vector<std::uint8_t> Answer;
    if (!TcpReceive(Socket, 1, TimeoutMs, Answer)) {
        Message = "label record was not acknowledged";
        return false;
    }
    LogExchange(Host, Port, "rx", Answer);
    if (Answer.size() != 1 || Answer[0] != DigiAck) {
        Message = "label record was not acknowledged";
        return false;
    }
    Message.clear();
    return true;
}

TUploadResult UploadLabel(const std::string& Host, const std::string& LocalIp, int Port,
                          int TimeoutMs, const std::filesystem::path& Folder)
{
    TUploadResult Result;
    Result.Status = TUploadStatus::usFailed;
    if (Port <= 0)
        Port = DigiDefaultPort(Host);
    if (Port < 1 || Port > 65535) {
        Result.Message = "DIGI port is 2000 + the last octet of the host";
        return Result;
    }
    const int Timeout = ClampDigiTimeout(TimeoutMs);
    const std::string BindIp = ChooseBindAddress(Host, LocalIp);
    const std::string Where = "label ip=" + Host + " port=" + std::to_string(Port) + " ";

    TSocketHandle Socket = NoSocket;
    if (!TcpConnect(Host, BindIp, Port, Timeout, Socket)) {
        Result.Message = "scale did not accept the connection";
        LogError(Where + Result.Message);
        return Result;
    }
    // Closed on every way out, an unreadable label file's exception included.
    TTcpConnection Connection(Socket);

    int Counts[std::size(LabelFiles)] = {};
    std::vector<std::uint8_t> Frame;
    for (std::size_t F = 0; F < std::size(LabelFiles); ++F) {
        const TLabelFile& File = LabelFiles[F];
        std::vector<TLabelRecord> Records;
        std::string Message;
        if (!ReadLabelRecords(Folder / File.Name, Records, Message)) {
            Result.Message = std::string(File.Name) + ": " + Message;
            LogError("label ip=" + Host + " " + Result.Message);
            return Result;
        }
        for (const TLabelRecord& Record : Records) {
            Frame.clear();
            Frame.reserve(Record.size() + 2);
            Frame.push_back(DigiCommandByte);
            Frame.push_back(File.FileByte);
            Frame.insert(Frame.end(), Record.begin(), Record.end());
            if (!SendLabelRecord(Connection.Get(), Host, Port, Frame, Timeout, Message)) {
                Result.Message = std::string(File.Name) + ": " + Message;
                LogError(Where + Result.Message);
                return Result;
            }
        }
        Counts[F] = static_cast<int>(Records.size());
    }
    Connection.Close();
    Result.Status = TUploadStatus::usSent;
    Result.Message = "sent label, " + std::to_string(Counts[0]) + " format records, " +
                     std::to_string(Counts[1]) + " texts";
    LogInfo(Where + Result.Message);
    return Result;
}

} // namespace Plumeria
