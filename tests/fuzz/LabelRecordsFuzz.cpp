// libFuzzer target for the label file reader (`ReadLabelRecords`). Beyond "no crash" it checks:
// the file reader and the reader of bytes in memory agree; a refused file gives no records and
// one of the fixed messages; accepted records each carry their own length in bytes 4-5, and
// together they are exactly the file's hex digits; written back as hex they read back the same.

#include "FuzzCheck.h"

#include "core/DigiFrame/LabelRecords.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace Plumeria;

constexpr std::array<std::string_view, 4> Refusals = {
    "label file is not hex",
    "label record is truncated",
    "label record length does not match the file",
    "label file has no records",
};

/// The digits of a plain (8-bit, no byte-order mark) file, read independently of the reader.
bool PlainDigits(const std::string& Text, std::vector<std::uint8_t>& Bytes)
{
    std::string Digits;
    for (const char C : Text) {
        if (C == ' ' || C == '\t' || C == '\n' || C == '\r')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(C)))
            return false;
        Digits += C;
    }
    if (Digits.size() % 2 != 0)
        return false;
    for (std::size_t I = 0; I < Digits.size(); I += 2)
        Bytes.push_back(static_cast<std::uint8_t>(std::stoi(Digits.substr(I, 2), nullptr, 16)));
    return true;
}

std::string AsHex(const std::vector<TLabelRecord>& Records)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string Text;
    for (const auto& Record : Records) {
        for (const auto Byte : Record) {
            Text += Digits[Byte >> 4];
            Text += Digits[Byte & 15];
        }
        Text += "\r\n";
    }
    return Text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    const auto Path = Fuzz::FuzzDir().Path() / "f34.dat";
    Fuzz::WriteBytes(Path, Text);

    std::vector<TLabelRecord> Records;
    std::string Message;
    const bool Read = ReadLabelRecords(Path, Records, Message);
    std::vector<TLabelRecord> FromMemory;
    std::string MemoryMessage;
    FUZZ_CHECK(ParseLabelRecords(Text, FromMemory, MemoryMessage) == Read);
    FUZZ_CHECK(FromMemory == Records && MemoryMessage == Message);
    if (!Read) {
        FUZZ_CHECK(Records.empty());
        FUZZ_CHECK(std::find(Refusals.begin(), Refusals.end(), Message) != Refusals.end());
        return 0;
    }
    FUZZ_CHECK(Message.empty() && !Records.empty());
    std::vector<std::uint8_t> All;
    for (const auto& Record : Records) {
        FUZZ_CHECK(Record.size() >= 6);
        FUZZ_CHECK(static_cast<std::size_t>(Record[4]) * 256 + Record[5] == Record.size());
        All.insert(All.end(), Record.begin(), Record.end());
    }
    std::vector<std::uint8_t> Digits;
    const bool Plain = !Text.starts_with("\xFF\xFE") && !Text.starts_with("\xFE\xFF") &&
                       !Text.starts_with("\xEF\xBB\xBF");
    if (Plain) {
        FUZZ_CHECK(PlainDigits(Text, Digits));
        FUZZ_CHECK(Digits == All);
    }
    std::vector<TLabelRecord> Again;
    FUZZ_CHECK(ParseLabelRecords(AsHex(Records), Again, Message) && Again == Records);
    return 0;
}
