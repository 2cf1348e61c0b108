#pragma once
// Reading a DIGI label file ("f34.dat", "f38.dat") for sending: hexadecimal digit pairs, blanks
// and line breaks allowed anywhere, cut into records whose bytes 4 and 5 hold (big-endian) the
// record's own length. The records' contents are not looked into; the scale interprets them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria {

using TLabelRecord = std::vector<std::uint8_t>;

/// True with the records in file order and an empty message, or false with one of
/// "label file is missing", "label file is not hex", "label record is truncated",
/// "label record length does not match the file", "label file has no records".
/// Only space, tab, line feed and carriage return are skipped between digits. A file that exists
/// but cannot be read at all (no access, a folder of that name) throws std::runtime_error.
bool ReadLabelRecords(const std::filesystem::path& Path, std::vector<TLabelRecord>& Records,
                      std::string& Message);

/// The whole content of the label file `Path`, as bytes. False when no such file exists; a file
/// that exists but cannot be read at all (no access, a folder of that name) throws
/// std::runtime_error.
bool ReadLabelFileBytes(const std::filesystem::path& Path, std::string& Bytes);

/// The same rules applied to file content already in memory (for callers that hold the text).
bool ParseLabelRecords(const std::string& FileBytes, std::vector<TLabelRecord>& Records,
                       std::string& Message);

} // namespace Plumeria
