#pragma once
// Sending a DIGI label layout to one scale: the records of "f34.dat" (label formats, file byte
// 0x34) and then of "f38.dat" (label texts, 0x38) from a folder, each as the frame
// F1 <file byte> <record>, each acknowledged by 0x06, over one connection.

#include "core/Types/Types.h"
#include "platform/Sockets.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace Plumeria {

/// The label files UploadLabel sends ("f34.dat", "f38.dat") that are not in `Folder`, in sending
/// order: callers check before connecting, so no scale receives half a label.
std::vector<std::string> MissingLabelFiles(const std::filesystem::path& Folder);

/// Sends one frame on a connected socket and waits for its acknowledgement; `Host` and `Port`
/// are for the exchange journal only. False with "label record was not written" or
/// "label record was not acknowledged".
bool SendLabelRecord(TSocketHandle Socket, const std::string& Host, int Port,
                     std::span<const std::uint8_t> Frame, int TimeoutMs, std::string& Message);

/// Sends the label files of `Folder` to the scale at Host:Port (0 or less: the DIGI default
/// port), from `LocalIp` when given. usSent with "sent label, N format records, M texts", or
/// usFailed with the reason. Both files are read only once connected, "f38.dat" only after all
/// of "f34.dat" was acknowledged. A label file that exists but cannot be read at all throws
/// (std::runtime_error) after the connection has been closed; nothing else leaves but the result.
TUploadResult UploadLabel(const std::string& Host, const std::string& LocalIp, int Port,
                          int TimeoutMs, const std::filesystem::path& Folder);

} // namespace Plumeria
