#pragma once
// Adding bytes to the end of a file with one open, one write and one close: the journal writes
// every entry this way, so no handle stays open between entries and other programs may read,
// write or delete the file meanwhile.

#include <filesystem>
#include <string_view>

namespace Plumeria {

enum class TAppendResult
{
    arDone,          ///< every byte was appended and the file closed
    arFolderMissing, ///< the file's folder does not exist; nothing was written
    arFailed         ///< any other failure; the file was left at the size it had before
};

/// Opens `File` for appending (creating it when missing, sharing it with every other reader and
/// writer), writes `Bytes` at its end and closes it. A write that fails part-way (a full disk
/// takes the first bytes only) is cut back out, so the next entry never runs on from a piece.
TAppendResult AppendToFile(const std::filesystem::path& File, std::string_view Bytes);

} // namespace Plumeria
