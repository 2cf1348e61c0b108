#include "core/DigiFrame/LabelRecords.h"

#include "platform/Environment.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace Plumeria {

namespace {

constexpr std::size_t RecordHeaderBytes = 6;

int HexValue(char32_t C)
{
    if (C >= '0' && C <= '9')
        return static_cast<int>(C - '0');
    if (C >= 'A' && C <= 'F')
        return static_cast<int>(C - 'A' + 10);
    if (C >= 'a' && C <= 'f')
        return static_cast<int>(C - 'a' + 10);
    return -1;
}

bool IsSkippedBlank(char32_t C)
{
    return C == ' ' || C == '\t' || C == '\n' || C == '\r';
}

/// Feeds the text's characters one by one into a pair assembler. Only ASCII matters here: any
/// character above 127, whatever the encoding, is "not hex", so UTF-8 and the 8-bit code page need
/// no decoding; UTF-16 (with its byte-order mark) is read unit by unit.
class THexCollector
{
public:
    explicit THexCollector(std::vector<std::uint8_t>& Bytes) : FBytes(Bytes) {}

    bool Put(char32_t C)
    {
        if (IsSkippedBlank(C))
            return true;
        const int Value = HexValue(C);
        if (Value < 0)
            return false;
        if (FHalf) {
            FBytes.push_back(static_cast<std::uint8_t>((FHigh << 4) | Value));
            FHalf = false;
        } else {
            FHigh = Value;
            FHalf = true;
        }
        return true;
    }
    bool Complete() const { return !FHalf; }

private:
    std::vector<std::uint8_t>& FBytes;
    int FHigh = 0;
    bool FHalf = false;
};

bool HexToBytes(const std::string& Text, std::vector<std::uint8_t>& Bytes)
{
    THexCollector Collector(Bytes);
    const auto Byte = [&Text](std::size_t I) { return static_cast<unsigned char>(Text[I]); };
    const bool Utf16Le = Text.size() >= 2 && Byte(0) == 0xFF && Byte(1) == 0xFE;
    const bool Utf16Be = Text.size() >= 2 && Byte(0) == 0xFE && Byte(1) == 0xFF;
    if (Utf16Le || Utf16Be) {
        if (Text.size() % 2 != 0)
            return false; // half a code unit at the end is no character at all
        for (std::size_t I = 2; I < Text.size(); I += 2) {
            const char32_t Unit =
                Utf16Le ? (Byte(I) | (Byte(I + 1) << 8)) : ((Byte(I) << 8) | Byte(I + 1));
            if (!Collector.Put(Unit))
                return false;
        }
        return Collector.Complete();
    }
    std::size_t Start = 0;
    if (Text.size() >= 3 && Byte(0) == 0xEF && Byte(1) == 0xBB && Byte(2) == 0xBF)
        Start = 3;
    for (std::size_t I = Start; I < Text.size(); ++I)
        if (!Collector.Put(Byte(I)))
            return false;
    return Collector.Complete();
}

bool Fail(std::string& Message, const char* Text)
{
    Message = Text;
    return false;
}

} // namespace

bool ParseLabelRecords(const std::string& FileBytes, std::vector<TLabelRecord>& Records,
                       std::string& Message)
{
    Records.clear();
    std::vector<std::uint8_t> Bytes;
    if (!HexToBytes(FileBytes, Bytes))
        return Fail(Message, "label file is not hex");
    std::size_t P = 0;
    while (P < Bytes.size()) {
        if (Bytes.size() - P < RecordHeaderBytes) {
            Records.clear();
            return Fail(Message, "label record is truncated");
        }
        const std::size_t Length = static_cast<std::size_t>(Bytes[P + 4]) * 256 + Bytes[P + 5];
        if (Length < RecordHeaderBytes || Length > Bytes.size() - P) {
            Records.clear();
            return Fail(Message, "label record length does not match the file");
        }
        Records.emplace_back(Bytes.begin() + static_cast<std::ptrdiff_t>(P),
                             Bytes.begin() + static_cast<std::ptrdiff_t>(P + Length));
        P += Length;
    }
    if (Records.empty())
        return Fail(Message, "label file has no records");
    Message.clear();
    return true;
}

bool ReadLabelFileBytes(const std::filesystem::path& Path, std::string& Bytes)
{
    Bytes.clear();
    std::error_code Error;
    const auto Status = std::filesystem::status(Path, Error);
    if (Status.type() == std::filesystem::file_type::not_found)
        return false;
    if (Error)
        throw std::runtime_error("cannot read label file " + PathToUtf8(Path) + ": " +
                                 Error.message());
    if (Status.type() == std::filesystem::file_type::directory)
        throw std::runtime_error("cannot read label file " + PathToUtf8(Path) + ": is a folder");
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        throw std::runtime_error("cannot read label file " + PathToUtf8(Path));
    Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    if (In.bad())
        throw std::runtime_error("cannot read label file " + PathToUtf8(Path));
    return true;
}

bool ReadLabelRecords(const std::filesystem::path& Path, std::vector<TLabelRecord>& Records,
                      std::string& Message)
{
    Records.clear();
    std::string Content;
    if (!ReadLabelFileBytes(Path, Content))
        return Fail(Message, "label file is missing");
    return ParseLabelRecords(Content, Records, Message);
}

} // namespace Plumeria
